// The overlapped-transfer half of the contract, mapped onto Transfers.
#include <new>

#include "platform/hidraw/hidraw_device.h"

namespace ombrix::platform {
namespace {

// The device's transfer machinery, created on first use. Null when it
// cannot be created; the transfer then fails to start.
hidraw::Transfers* TransfersOf(Device device) {
  std::lock_guard<std::mutex> lock(device->transfersLock);
  if (device->transfers == nullptr) {
    device->transfers = new (std::nothrow) hidraw::Transfers(device->fd, device->numberedReports);
  }
  return device->transfers;
}

hidraw::Transfers* ExistingTransfersOf(Device device) {
  std::lock_guard<std::mutex> lock(device->transfersLock);
  return device->transfers;
}

}  // namespace

void OverlappedPrepare(Overlapped* overlapped, Event event) {
  overlapped->event = event;
  overlapped->status.store(hidraw::kIdle, std::memory_order_relaxed);
  overlapped->transferred.store(0, std::memory_order_relaxed);
  overlapped->request = nullptr;
}

IoStart DeviceWrite(Device device, const uint8_t* data, uint32_t length, Overlapped* overlapped) {
  hidraw::Transfers* transfers = TransfersOf(device);
  return transfers != nullptr ? transfers->Write(data, length, overlapped) : IoStart::kFailed;
}

IoStart DeviceRead(Device device, uint8_t* buffer, uint32_t length, Overlapped* overlapped) {
  hidraw::Transfers* transfers = TransfersOf(device);
  return transfers != nullptr ? transfers->Read(buffer, length, overlapped) : IoStart::kFailed;
}

bool OverlappedResult(Device device, Overlapped* overlapped, uint32_t* transferred, bool wait) {
  uint32_t status = overlapped->status.load(std::memory_order_acquire);
  while (wait && status == hidraw::kPending) {
    EventWait(overlapped->event, kInfinite);
    status = overlapped->status.load(std::memory_order_acquire);
  }
  if (status == hidraw::kPending) return false;
  // The completing thread may still be inside EventSet; once the fence
  // returns it has let go of the event, which the caller may now close.
  if (hidraw::Transfers* transfers = ExistingTransfersOf(device)) transfers->Fence();
  if (status != hidraw::kSucceeded) return false;
  if (transferred != nullptr) *transferred = overlapped->transferred.load(std::memory_order_relaxed);
  return true;
}

void DeviceCancelIo(Device device) {
  if (hidraw::Transfers* transfers = ExistingTransfersOf(device)) transfers->Cancel(ThreadCurrentId());
}

}  // namespace ombrix::platform
