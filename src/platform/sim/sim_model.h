// The simulated interfaces: the state of every simulated device, shared by
// the HID backend (what the library sees), the control API (what a test
// scripts) and the device clock (what happens by itself over time).
//
// All of it is guarded by one lock, SimLock(). Completing a transfer stores
// its outcome in the Overlapped with release ordering before its event is
// set, so the thread that collects it reads the buffer contents the
// simulator wrote.
#ifndef OMBRIX_PLATFORM_SIM_SIM_MODEL_H
#define OMBRIX_PLATFORM_SIM_SIM_MODEL_H

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/platform.h"

namespace ombrix::sim {

// Overlapped::status values.
constexpr uint32_t kStatusIdle = 0;
constexpr uint32_t kStatusPending = 1;
constexpr uint32_t kStatusSucceeded = 2;
constexpr uint32_t kStatusFailed = 3;

constexpr uint32_t kInputReportBytes = 34;
// Like the HID driver's ring of input buffers: unread reports beyond this
// many push the oldest out.
constexpr size_t kInputQueueLimit = 256;

struct SimDevice;

struct Transfer {
  platform::Overlapped* overlapped;
  uint8_t* buffer;  // reads only
  uint32_t length;
  platform::DeviceObject* handle;
  platform::ThreadId starter;
  bool isWrite;
  uint64_t dueMicros;  // writes completing by themselves; 0: never
};

struct WriteRecord {
  std::vector<uint8_t> bytes;
  uint64_t startMicros;
};

struct SimDevice {
  int32_t id = 0;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t releaseNumber = 0;
  std::vector<uint16_t> serial;
  bool serialReadable = true;
  bool present = true;
  // Bumped on unplug: handles opened before carry an older generation and
  // are dead from then on.
  uint32_t generation = 0;
  bool faults[6] = {};
  int32_t writeBehaviour = 0;
  uint32_t writeDelayMicros = 0;
  int32_t readBehaviour = 0;
  std::deque<std::vector<uint8_t>> input;
  uint32_t streamIntervalMicros = 0;
  uint64_t nextStreamMicros = 0;
  uint32_t streamBlock = 0;
  uint32_t streamUniverse = 0;
  std::vector<WriteRecord> writes;
  bool loopback = false;  // DMX block writes come back as input blocks
  int32_t openHandles = 0;
  std::vector<Transfer> pending;  // oldest first
};

struct SimState {
  std::vector<SimDevice*> devices;  // enumeration order; id = index + 1
  bool setAvailable = true;
  uint32_t walks = 0;
};

platform::RecursiveLock& SimLock();
// Caller holds SimLock().
SimState& State();
SimDevice* FindDevice(int32_t id);
uint64_t NowMicros();

// When a write started at startMicros completes by itself under the
// device's timed behaviour (COMPLETE: after its delay; FRAMED: at the next
// tick of its frame clock). Needs a non-zero writeDelayMicros.
uint64_t WriteDueMicros(const SimDevice& device, uint64_t startMicros);

// Ends a transfer: stores its outcome and signals its event. Caller holds
// SimLock() and has removed it from its device's pending list.
void FinishTransfer(const Transfer& transfer, bool succeeded, uint32_t transferred);
// Ends every pending transfer of the device that matches, with failure.
template <typename Match>
void FailPending(SimDevice* device, Match match) {
  for (size_t i = 0; i < device->pending.size();) {
    if (match(device->pending[i])) {
      Transfer transfer = device->pending[i];
      device->pending.erase(device->pending.begin() + static_cast<std::ptrdiff_t>(i));
      FinishTransfer(transfer, false, 0);
    } else {
      ++i;
    }
  }
}
// Hands a report to the oldest pending read of the device, or queues it.
void DeliverInput(SimDevice* device, const uint8_t* report, uint32_t length);

// The device clock: completes delayed writes and streams input. Wake it
// after adding timed work. Caller holds SimLock().
void WakeClock();
// The same for one piece of work due at dueMicros: wakes the clock only when
// it would otherwise look later than that.
void WakeClockFor(uint64_t dueMicros);

}  // namespace ombrix::sim

#endif  // OMBRIX_PLATFORM_SIM_SIM_MODEL_H
