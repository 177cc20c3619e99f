#include "platform/sim/sim_model.h"

#include <chrono>
#include <cstring>

#include "ombrix_usb_sim.h"

namespace ombrix::sim {

platform::RecursiveLock& SimLock() {
  static platform::RecursiveLock* lock = new platform::RecursiveLock;
  return *lock;
}

SimState& State() {
  static SimState* state = new SimState;
  return *state;
}

SimDevice* FindDevice(int32_t id) {
  SimState& state = State();
  if (id < 1 || static_cast<size_t>(id) > state.devices.size()) return nullptr;
  return state.devices[static_cast<size_t>(id) - 1];
}

uint64_t NowMicros() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

uint64_t WriteDueMicros(const SimDevice& device, uint64_t startMicros) {
  uint64_t period = device.writeDelayMicros;
  if (device.writeBehaviour != OMBRIX_SIM_WRITE_FRAMED) return startMicros + period;
  // The next tick strictly after the start: a write started on a tick
  // waits for the following one, like a report handed over just too late
  // for the frame that is beginning.
  return (startMicros / period + 1) * period;
}

void FinishTransfer(const Transfer& transfer, bool succeeded, uint32_t transferred) {
  platform::Overlapped* overlapped = transfer.overlapped;
  overlapped->transferred.store(succeeded ? transferred : 0, std::memory_order_relaxed);
  overlapped->status.store(succeeded ? kStatusSucceeded : kStatusFailed, std::memory_order_release);
  platform::EventSet(overlapped->event);
}

void DeliverInput(SimDevice* device, const uint8_t* report, uint32_t length) {
  for (size_t i = 0; i < device->pending.size(); ++i) {
    Transfer transfer = device->pending[i];
    if (transfer.isWrite) continue;
    device->pending.erase(device->pending.begin() + static_cast<std::ptrdiff_t>(i));
    uint32_t copied = length < transfer.length ? length : transfer.length;
    // A zero-length report may come with a null pointer.
    if (copied > 0) std::memcpy(transfer.buffer, report, copied);
    FinishTransfer(transfer, true, copied);
    return;
  }
  device->input.emplace_back(report, report + length);
  if (device->input.size() > kInputQueueLimit) device->input.pop_front();
}

}  // namespace ombrix::sim
