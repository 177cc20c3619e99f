// HID half of the platform contract over the simulated interfaces.
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/sim/sim_model.h"
#include "ombrix_usb_sim.h"

namespace ombrix::platform {

using sim::SimDevice;
using sim::SimLock;
using sim::State;

struct DeviceSetObject {
  std::vector<int32_t> members;  // ids of the devices present when obtained
};

struct DevicePathObject {
  int32_t deviceId;
};

struct DeviceObject {
  int32_t deviceId;
  uint32_t generation;
};

struct PreparsedObject {
  int32_t deviceId;
};

namespace {

bool Faulty(const SimDevice* device, int step) { return device->faults[step]; }

// The device behind a handle, or null when the handle is dead (the device
// was unplugged after it was opened). Caller holds SimLock().
SimDevice* LiveDevice(Device handle) {
  if (handle == nullptr) return nullptr;
  SimDevice* device = sim::FindDevice(handle->deviceId);
  if (device == nullptr || !device->present || device->generation != handle->generation) return nullptr;
  return device;
}

}  // namespace

DeviceSet DeviceSetOpen() {
  LockGuard guard(SimLock());
  ++State().walks;
  if (!State().setAvailable) return nullptr;
  DeviceSetObject* set = new (std::nothrow) DeviceSetObject;
  if (set == nullptr) return nullptr;
  for (SimDevice* device : State().devices) {
    if (device->present) set->members.push_back(device->id);
  }
  return set;
}

bool DeviceSetHasInterface(DeviceSet set, uint32_t index) { return index < set->members.size(); }

DevicePath DeviceSetInterfacePath(DeviceSet set, uint32_t index) {
  LockGuard guard(SimLock());
  if (index >= set->members.size()) return nullptr;
  SimDevice* device = sim::FindDevice(set->members[index]);
  if (device == nullptr || Faulty(device, OMBRIX_SIM_STEP_DETAIL)) return nullptr;
  return new (std::nothrow) DevicePathObject{device->id};
}

void DevicePathFree(DevicePath path) { delete path; }
void DeviceSetClose(DeviceSet set) { delete set; }

Device DeviceOpen(DevicePath path) {
  LockGuard guard(SimLock());
  SimDevice* device = sim::FindDevice(path->deviceId);
  if (device == nullptr || !device->present || Faulty(device, OMBRIX_SIM_STEP_OPEN)) return nullptr;
  DeviceObject* handle = new (std::nothrow) DeviceObject{device->id, device->generation};
  if (handle != nullptr) ++device->openHandles;
  return handle;
}

void DeviceClose(Device handle) {
  if (handle == nullptr) return;
  {
    LockGuard guard(SimLock());
    SimDevice* device = sim::FindDevice(handle->deviceId);
    if (device != nullptr) --device->openHandles;
  }
  delete handle;
}

bool HidGetAttributes(Device handle, HidAttributes* attributes) {
  LockGuard guard(SimLock());
  SimDevice* device = LiveDevice(handle);
  if (device == nullptr || Faulty(device, OMBRIX_SIM_STEP_ATTRIBUTES)) return false;
  attributes->vendorId = device->vendorId;
  attributes->productId = device->productId;
  attributes->versionNumber = device->releaseNumber;
  return true;
}

Preparsed HidGetPreparsedData(Device handle) {
  LockGuard guard(SimLock());
  SimDevice* device = LiveDevice(handle);
  if (device == nullptr || Faulty(device, OMBRIX_SIM_STEP_PREPARSED)) return nullptr;
  return new (std::nothrow) PreparsedObject{device->id};
}

bool HidGetCaps(Preparsed preparsed) {
  LockGuard guard(SimLock());
  SimDevice* device = sim::FindDevice(preparsed->deviceId);
  return device != nullptr && !Faulty(device, OMBRIX_SIM_STEP_CAPS);
}

void HidFreePreparsedData(Preparsed preparsed) { delete preparsed; }

bool HidGetSerialNumberString(Device handle, uint16_t* buffer, uint32_t bufferBytes) {
  LockGuard guard(SimLock());
  SimDevice* device = LiveDevice(handle);
  if (device == nullptr || !device->serialReadable) return false;
  size_t capacity = bufferBytes / sizeof(uint16_t);
  if (capacity == 0) return false;
  size_t units = device->serial.size() < capacity - 1 ? device->serial.size() : capacity - 1;
  if (units > 0) std::memcpy(buffer, device->serial.data(), units * sizeof(uint16_t));
  buffer[units] = 0;
  return true;
}

void OverlappedPrepare(Overlapped* overlapped, Event event) {
  overlapped->event = event;
  overlapped->status.store(sim::kStatusIdle, std::memory_order_relaxed);
  overlapped->transferred.store(0, std::memory_order_relaxed);
  overlapped->request = nullptr;
  std::memset(overlapped->native, 0, sizeof overlapped->native);
}

namespace {

// The loopback cable: a DMX block the device takes in comes back on its input
// as the input block of the same number. Caller holds SimLock().
void LoopBack(SimDevice* device, const uint8_t* report, uint32_t length) {
  if (!device->loopback || length != sim::kInputReportBytes) return;
  uint8_t type = report[1];
  bool dmxBlock = type <= 0x0F || (type >= 0x20 && type <= 0x2F);
  if (!dmxBlock) return;
  uint8_t input[sim::kInputReportBytes];
  std::memcpy(input, report, sizeof input);
  input[1] = type & 0x0F;
  sim::DeliverInput(device, input, sizeof input);
}

sim::Transfer MakeTransfer(Device handle, uint8_t* buffer, uint32_t length, Overlapped* overlapped, bool isWrite) {
  overlapped->status.store(sim::kStatusPending, std::memory_order_relaxed);
  return sim::Transfer{overlapped, buffer, length, handle, ThreadCurrentId(), isWrite, 0};
}

}  // namespace

IoStart DeviceWrite(Device handle, const uint8_t* data, uint32_t length, Overlapped* overlapped) {
  LockGuard guard(SimLock());
  SimDevice* device = LiveDevice(handle);
  if (device == nullptr || device->writeBehaviour == OMBRIX_SIM_WRITE_REFUSE) return IoStart::kFailed;
  uint64_t now = sim::NowMicros();
  device->writes.push_back(sim::WriteRecord{std::vector<uint8_t>(data, data + length), now});
  sim::Transfer transfer = MakeTransfer(handle, nullptr, length, overlapped, true);
  switch (device->writeBehaviour) {
    case OMBRIX_SIM_WRITE_NEVER:
      device->pending.push_back(transfer);
      return IoStart::kPending;
    case OMBRIX_SIM_WRITE_FAIL:
      sim::FinishTransfer(transfer, false, 0);
      return IoStart::kPending;
    case OMBRIX_SIM_WRITE_ZERO_BYTES:
      sim::FinishTransfer(transfer, true, 0);
      return IoStart::kCompleted;
    default:
      LoopBack(device, data, length);
      if (device->writeDelayMicros == 0) {
        sim::FinishTransfer(transfer, true, length);
        return IoStart::kCompleted;
      }
      transfer.dueMicros = sim::WriteDueMicros(*device, now);
      device->pending.push_back(transfer);
      sim::WakeClockFor(transfer.dueMicros);
      return IoStart::kPending;
  }
}

IoStart DeviceRead(Device handle, uint8_t* buffer, uint32_t length, Overlapped* overlapped) {
  LockGuard guard(SimLock());
  SimDevice* device = LiveDevice(handle);
  if (device == nullptr || device->readBehaviour == OMBRIX_SIM_READ_REFUSE) return IoStart::kFailed;
  sim::Transfer transfer = MakeTransfer(handle, buffer, length, overlapped, false);
  if (device->readBehaviour == OMBRIX_SIM_READ_FAIL) {
    sim::FinishTransfer(transfer, false, 0);
    return IoStart::kPending;
  }
  if (!device->input.empty()) {
    const std::vector<uint8_t>& report = device->input.front();
    uint32_t copied = report.size() < length ? static_cast<uint32_t>(report.size()) : length;
    // A zero-length report has no storage to copy from.
    if (copied > 0) std::memcpy(buffer, report.data(), copied);
    device->input.pop_front();
    sim::FinishTransfer(transfer, true, copied);
    return IoStart::kCompleted;
  }
  device->pending.push_back(transfer);
  return IoStart::kPending;
}

bool OverlappedResult(Device, Overlapped* overlapped, uint32_t* transferred, bool wait) {
  uint32_t status = overlapped->status.load(std::memory_order_acquire);
  while (wait && status == sim::kStatusPending) {
    EventWait(overlapped->event, 1);
    status = overlapped->status.load(std::memory_order_acquire);
  }
  if (status != sim::kStatusSucceeded) return false;
  if (transferred != nullptr) *transferred = overlapped->transferred.load(std::memory_order_relaxed);
  return true;
}

void DeviceCancelIo(Device handle) {
  LockGuard guard(SimLock());
  SimDevice* device = sim::FindDevice(handle->deviceId);
  if (device == nullptr) return;
  ThreadId self = ThreadCurrentId();
  // The simulator ends cancelled transfers at once, so their memory is free
  // when this returns; a real backend may take longer.
  sim::FailPending(device, [&](const sim::Transfer& t) { return t.handle == handle && t.starter == self; });
}

}  // namespace ombrix::platform
