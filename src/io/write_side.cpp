#include <cstring>

#include "io/io_pass.h"
#include "io/reports.h"
#include "notify/messages.h"
#include "output/frame_queue.h"

namespace ombrix {
namespace {

void RecordCompletedWrite(Link& link, uint32_t transferred) {
  if (transferred == 0 || link.blockInFlight == 0) return;
  link.blockInFlight = 0;
  int block = link.blockCursor;
  std::memcpy(link.sentShadow + block * kBlockBytes, link.txPayload + 1, kBlockBytes);
  link.blockDirty[block] = 0;
  link.blockCursor = (block + 1) % kBlockCount;
}

// False while the write is still in progress.
bool CompleteWrite(Link& link, WaitList& wait) {
  if (link.writePending == 0) return true;
  if (platform::EventWait(link.writeEvent, 0) != platform::WaitResult::kSignalled) {
    wait.Add(link.writeEvent);
    return false;
  }
  uint32_t transferred = 0;
  bool succeeded = platform::OverlappedResult(link.device, &link.writeOverlapped, &transferred, false);
  link.writeLock.Leave();
  link.writePending = 0;
  if (succeeded) {
    NoteTransferSuccess(link, TransferSide::kWrite);
    RecordCompletedWrite(link, transferred);
  } else {
    ReportTransferFailure(link, TransferSide::kWrite, true);  // blockInFlight keeps its value
  }
  return true;
}

// Commands are taken under commandLock so that a payload being rebuilt by
// SetInterfaceAdvTxConfig is never sent half old, half new.
bool TakeAdvTxConfig(Link& link) {
  if (link.advTxPending.load(std::memory_order_acquire) == 0) return false;
  platform::LockGuard guard(link.commandLock);
  if (link.advTxPending.load(std::memory_order_relaxed) == 0) return false;
  std::memcpy(link.txPayload, link.advTxPayload, kPayloadBytes);
  link.advTxPending.store(0, std::memory_order_release);
  link.blockInFlight = 0;
  return true;
}

bool TakeStoreRequest(Link& link) {
  if (link.storePending.load(std::memory_order_acquire) == 0) return false;
  platform::LockGuard guard(link.commandLock);
  if (link.storePending.load(std::memory_order_relaxed) == 0) return false;
  BuildStoreConfigReport(link.txPayload);
  link.storePending.store(0, std::memory_order_release);
  link.blockInFlight = 0;
  return true;
}

bool TakeModeChange(Link& link) {
  uint8_t requested = link.modeRequested.load(std::memory_order_acquire);
  if (requested == link.modeActive.load(std::memory_order_relaxed)) return false;
  BuildSetModeReport(link.txPayload, requested);
  link.blockInFlight = 0;
  for (int32_t& dirty : link.blockDirty) dirty = kBlockDirtyAll;
  link.blockCursor = 0;
  // Taking the mode up is what ends SetInterfaceMode's wait.
  link.modeActive.store(requested, std::memory_order_release);
  return true;
}

bool ChooseNextReport(Link& link, int blocksPerPass) {
  if (TakeModeChange(link)) return true;
  if (TakeAdvTxConfig(link)) return true;
  if (TakeStoreRequest(link)) return true;
  if (!IsOutputMode(link.modeActive.load(std::memory_order_relaxed))) return false;
  if (link.outputUniverse != nullptr && link.queueMode == 0) return PolledOutputStep(link, blocksPerPass);
  if (link.queueMode == 1) return QueueOutputStep(link);
  return false;
}

void IssueWrite(Link& link, WaitList& wait) {
  link.writeLock.Enter();
  platform::EventReset(link.writeEvent);
  platform::OverlappedPrepare(&link.writeOverlapped, link.writeEvent);
  FrameReport(link.txReport, link.txPayload);
  if (platform::DeviceWrite(link.device, link.txReport, kReportBytes, &link.writeOverlapped) !=
      platform::IoStart::kFailed) {
    link.writePending = 1;
    wait.Add(link.writeEvent);
  } else {
    // Not started: the choice comes round again.
    link.writeLock.Leave();
    link.writePending = 0;
    ReportTransferFailure(link, TransferSide::kWrite, false);
  }
}

}  // namespace

void ServeWriteSide(Link& link, int blocksPerPass, WaitList& wait) {
  if (!CompleteWrite(link, wait)) return;
  if (ChooseNextReport(link, blocksPerPass)) IssueWrite(link, wait);
}

}  // namespace ombrix
