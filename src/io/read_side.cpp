#include <cstring>

#include "io/io_pass.h"
#include "io/reports.h"
#include "notify/messages.h"

namespace ombrix {
namespace {

// A read still outstanding on the eighth pass after blocks arrived marks
// the end of a burst of input.
constexpr int32_t kQuietPasses = 7;

void RunBlockCallbacks(Link& link, int block) {
  if (InputChangeBlockCallback callback = Registry().onInputChangeBlock.load(std::memory_order_acquire)) {
    callback(static_cast<uint32_t>(block));
  }
  if (InputChangeBlockSerialCallback callback = link.onInputChangeBlock.load(std::memory_order_acquire)) {
    callback(link.linkId, static_cast<uint32_t>(block));
  }
}

void TakeReceived(Link& link, uint32_t transferred) {
  // Decode a copy: the buffer is handed to the next read right after.
  uint8_t received[kReportBytes];
  std::memcpy(received, link.rxReport, kReportBytes);
  Decoded decoded = DecodeReport(link, received, transferred);
  switch (decoded.kind) {
    case Received::kInputBlock:
      link.readIdleCount = 0;
      if (++link.inputBlockCount == kBlockCount) {
        link.inputBlockCount = 0;
        PostLinkMessage(kMsgInputChange, &link);
      }
      RunBlockCallbacks(link, decoded.block);
      return;
    case Received::kConfigReadback:
    case Received::kHeartbeat:
      PostLinkMessage(kMsgHeartbeat, &link);
      return;
    case Received::kNothing:
      return;
  }
}

// False while the read is still in progress.
bool CompleteRead(Link& link, WaitList& wait) {
  if (link.readPending == 0) return true;
  ++link.readIdleCount;
  if (platform::EventWait(link.readEvent, 0) != platform::WaitResult::kSignalled) {
    wait.Add(link.readEvent);
    if (link.inputBlockCount != 0 && link.readIdleCount > kQuietPasses) {
      link.inputBlockCount = 0;
      link.readIdleCount = 0;
      PostLinkMessage(kMsgInputChange, &link);
    }
    return false;
  }
  uint32_t transferred = 0;
  bool succeeded = platform::OverlappedResult(link.device, &link.readOverlapped, &transferred, false);
  link.readLock.Leave();
  link.readPending = 0;
  if (!succeeded) {
    ReportTransferFailure(link, TransferSide::kRead, true);
    return true;
  }
  NoteTransferSuccess(link, TransferSide::kRead);
  if (transferred == kReportBytes) TakeReceived(link, transferred);
  return true;
}

void IssueRead(Link& link, WaitList& wait) {
  link.readLock.Enter();
  platform::EventReset(link.readEvent);
  platform::OverlappedPrepare(&link.readOverlapped, link.readEvent);
  if (platform::DeviceRead(link.device, link.rxReport, kReportBytes, &link.readOverlapped) !=
      platform::IoStart::kFailed) {
    link.readPending = 1;
    wait.Add(link.readEvent);
  } else {
    link.readLock.Leave();
    link.readPending = 0;
    ReportTransferFailure(link, TransferSide::kRead, false);
  }
}

}  // namespace

void ServeReadSide(Link& link, WaitList& wait) {
  if (!CompleteRead(link, wait)) return;
  IssueRead(link, wait);
}

}  // namespace ombrix
