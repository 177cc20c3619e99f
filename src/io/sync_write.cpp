#include "io/sync_write.h"

#include <cstring>

namespace ombrix {

int32_t SyncWriteReport(Link* link, const uint8_t* payload, uint32_t length, uint32_t timeoutMs) {
  if (length > kSyncWriteMaxPayload) return -1;  // before anything else
  if (link == nullptr || link->isOpen.load(std::memory_order_acquire) == 0) return kSyncWriteNoLink;

  platform::LockGuard guard(link->writeLock);
  platform::EventReset(link->writeEvent);
  platform::Overlapped overlapped;
  platform::OverlappedPrepare(&overlapped, link->writeEvent);
  uint8_t report[kSyncWriteMaxPayload + 1] = {};
  std::memcpy(report + 1, payload, length);

  platform::IoStart start = platform::DeviceWrite(link->device, report, length + 1, &overlapped);
  if (start == platform::IoStart::kFailed) return -1;
  if (start == platform::IoStart::kPending) {
    platform::WaitResult wait = platform::EventWait(link->writeEvent, timeoutMs);
    if (wait == platform::WaitResult::kTimeout) {
      platform::DeviceCancelIo(link->device);
      // Let the system finish with report and overlapped before they go.
      uint32_t ignored = 0;
      platform::OverlappedResult(link->device, &overlapped, &ignored, true);
      return 0;
    }
    if (wait != platform::WaitResult::kSignalled) {
      // The transfer may still be running; it must not outlive this frame.
      platform::DeviceCancelIo(link->device);
      uint32_t ignored = 0;
      platform::OverlappedResult(link->device, &overlapped, &ignored, true);
      return -1;
    }
  }
  uint32_t transferred = 0;
  if (!platform::OverlappedResult(link->device, &overlapped, &transferred, false)) return -1;
  if (transferred == 0) return -1;
  return static_cast<int32_t>(transferred) - 1;
}

}  // namespace ombrix
