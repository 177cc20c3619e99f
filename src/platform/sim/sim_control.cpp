// The control API of the simulated interfaces (ombrix_usb_sim.h).
#include <cstring>

#include "ombrix_usb_sim.h"
#include "platform/sim/sim_model.h"
#include "registry/library_threads.h"

using ombrix::platform::LockGuard;
using ombrix::sim::FindDevice;
using ombrix::sim::SimDevice;
using ombrix::sim::SimLock;
using ombrix::sim::State;

extern "C" {

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimReset(void) {
  LockGuard guard(SimLock());
  for (SimDevice* device : State().devices) {
    if (device->openHandles != 0 || !device->pending.empty()) return 0;
  }
  for (SimDevice* device : State().devices) delete device;
  State().devices.clear();
  State().setAvailable = true;
  State().walks = 0;
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimAddDevice(uint16_t vendorId, uint16_t productId, uint16_t releaseNumber,
                                                  const uint16_t* serial, int32_t serialUnits) {
  if (serialUnits > 0 && serial == nullptr) return 0;
  LockGuard guard(SimLock());
  SimDevice* device = new SimDevice;
  device->id = static_cast<int32_t>(State().devices.size()) + 1;
  device->vendorId = vendorId;
  device->productId = productId;
  device->releaseNumber = releaseNumber;
  device->serialReadable = serialUnits >= 0;
  if (serialUnits > 0) device->serial.assign(serial, serial + serialUnits);
  State().devices.push_back(device);
  return device->id;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetDeviceSetAvailable(int32_t available) {
  LockGuard guard(SimLock());
  State().setAvailable = available != 0;
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetFault(int32_t id, int32_t step, int32_t fails) {
  if (step < OMBRIX_SIM_STEP_DETAIL || step > OMBRIX_SIM_STEP_CAPS) return 0;
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr) return 0;
  device->faults[step] = fails == 1;
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimUnplug(int32_t id) {
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr) return 0;
  if (device->present) {
    device->present = false;
    ++device->generation;
    device->input.clear();
    ombrix::sim::FailPending(device, [](const ombrix::sim::Transfer&) { return true; });
  }
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimReplug(int32_t id) {
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr) return 0;
  if (!device->present) {
    device->present = true;
    if (device->streamIntervalMicros != 0) {
      device->nextStreamMicros = ombrix::sim::NowMicros();
      ombrix::sim::WakeClock();
    }
  }
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetWriteBehaviour(int32_t id, int32_t behaviour, uint32_t delayMicros) {
  if (behaviour < OMBRIX_SIM_WRITE_COMPLETE || behaviour > OMBRIX_SIM_WRITE_FRAMED) return 0;
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr) return 0;
  device->writeBehaviour = behaviour;
  device->writeDelayMicros = delayMicros;
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetReadBehaviour(int32_t id, int32_t behaviour) {
  if (behaviour < OMBRIX_SIM_READ_NORMAL || behaviour > OMBRIX_SIM_READ_REFUSE) return 0;
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr) return 0;
  device->readBehaviour = behaviour;
  if (behaviour == OMBRIX_SIM_READ_FAIL) {
    ombrix::sim::FailPending(device, [](const ombrix::sim::Transfer& t) { return !t.isWrite; });
  }
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimInjectInput(int32_t id, const uint8_t* report, uint32_t length) {
  if (length > ombrix::sim::kInputReportBytes || (length > 0 && report == nullptr)) return 0;
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr || !device->present) return 0;
  ombrix::sim::DeliverInput(device, report, length);
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimStreamInput(int32_t id, uint32_t intervalMicros) {
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr) return 0;
  device->streamIntervalMicros = intervalMicros;
  if (intervalMicros != 0) {
    device->nextStreamMicros = ombrix::sim::NowMicros() + intervalMicros;
    ombrix::sim::WakeClock();
  }
  return 1;
}

OMBRIX_API uint32_t OMBRIX_CALL OmbrixSimWriteCount(int32_t id) {
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  return device == nullptr ? 0 : static_cast<uint32_t>(device->writes.size());
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimGetWrite(int32_t id, uint32_t index, uint8_t* buffer, uint32_t capacity,
                                                 uint64_t* startMicros) {
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr || index >= device->writes.size()) return 0;
  const ombrix::sim::WriteRecord& record = device->writes[index];
  size_t copied = record.bytes.size() < capacity ? record.bytes.size() : capacity;
  if (buffer != nullptr && copied > 0) std::memcpy(buffer, record.bytes.data(), copied);
  if (startMicros != nullptr) *startMicros = record.startMicros;
  return static_cast<int32_t>(record.bytes.size());
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimClearWrites(int32_t id) {
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr) return 0;
  device->writes.clear();
  return 1;
}

OMBRIX_API uint32_t OMBRIX_CALL OmbrixSimWalkCount(void) {
  LockGuard guard(SimLock());
  return State().walks;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimOpenHandles(int32_t id) {
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  return device == nullptr ? 0 : device->openHandles;
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimLibraryThreads(void) { return ombrix::LibraryThreadsRunning(); }

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimPendingTransfers(int32_t id) {
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  return device == nullptr ? 0 : static_cast<int32_t>(device->pending.size());
}

OMBRIX_API int32_t OMBRIX_CALL OmbrixSimSetLoopback(int32_t id, int32_t enabled) {
  LockGuard guard(SimLock());
  SimDevice* device = FindDevice(id);
  if (device == nullptr) return 0;
  device->loopback = enabled != 0;
  return 1;
}

}  // extern "C"
