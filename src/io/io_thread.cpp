#include "io/io_thread.h"

#include "io/io_pass.h"
#include "io/reports.h"
#include "io/sync_write.h"
#include "notify/messages.h"
#include "registry/library_threads.h"
#include "registry/registry.h"

namespace ombrix {
namespace {

constexpr uint32_t kCloseModeTimeoutMs = 100;
constexpr uint32_t kPassWaitMs = 2;

// The finest period the timer offers, held raised for the thread's life.
uint32_t ChooseTimerPeriod() {
  uint32_t minimum = 0;
  uint32_t maximum = 0;
  if (!platform::TimerGetCaps(&minimum, &maximum)) return 1;
  uint32_t period = minimum == 0 ? 1 : minimum;
  return period < maximum ? period : maximum;
}

void WaitForEventAck(const Link& link, uint8_t wanted) {
  while (link.eventAck.load(std::memory_order_acquire) != wanted) platform::ShortSleep(0, 10000);
}

// Ends an outstanding transfer for good: cancel it and wait until the
// system no longer touches the record's buffer and overlapped, because
// CloseLink frees them as soon as it sees Closed.
void CancelAndCollect(Link& link, platform::Overlapped& overlapped, platform::TransferLock& lock) {
  platform::DeviceCancelIo(link.device);
  uint32_t ignored = 0;
  platform::OverlappedResult(link.device, &overlapped, &ignored, true);
  lock.Leave();
}

void CloseProcedure(Link& link) {
  LinkRegistry& registry = Registry();
  if (link.writePending != 0) {
    CancelAndCollect(link, link.writeOverlapped, link.writeLock);
    link.writePending = 0;
  }
  if (link.readPending != 0) {
    CancelAndCollect(link, link.readOverlapped, link.readLock);
    link.readPending = 0;
  }
  BuildSetModeReport(link.txPayload, 0);
  SyncWriteReport(&link, link.txPayload, kPayloadBytes, kCloseModeTimeoutMs);

  PostLinkMessage(kMsgDetach, &link);
  WaitForEventAck(link, kAckDetached);

  link.ioThreadMarker.store(0, std::memory_order_release);
  registry.busy.store(1, std::memory_order_release);
  RegistryUnlink(&link);
  registry.busy.store(0, std::memory_order_release);
  PostLinkMessage(kMsgClosed, &link);

  platform::EventClose(link.readEvent);
  platform::EventClose(link.writeEvent);
  link.readEvent = nullptr;
  link.writeEvent = nullptr;
  // The last access: from here on the record belongs to CloseLink.
  link.control.store(kControlClosed, std::memory_order_release);
}

void ResumeDispatching(Link& link) {
  if (link.eventAck.load(std::memory_order_acquire) == kAckDispatching) return;
  PostLinkMessage(kMsgResume, &link);
  WaitForEventAck(link, kAckDispatching);
}

// The I/O thread's side of the handshake. Returns true when the link was
// closed, which ends the pass.
bool ControlStep(Link& link) {
  switch (link.control.load(std::memory_order_acquire)) {
    case kControlClose:
      CloseProcedure(link);
      return true;
    case kControlPause:
      // Every event message posted before MsgPause is dispatched or dropped
      // by the time the event thread answers it.
      PostLinkMessage(kMsgPause, &link);
      WaitForEventAck(link, kAckHeld);
      link.control.store(kControlPaused, std::memory_order_release);
      return false;
    case kControlPaused:
      platform::ShortSleep(0, 10000);
      return false;
    default:  // Run is resumed by the caller once it has read control again
      return false;
  }
}

// Blocks one pass may send from a polled output buffer: a whole universe
// for a single running link, fewer as more links share the pass, so that no
// link waits behind another's full universe.
constexpr int kBlocksPerPassOneLink = 16;
constexpr int kBlocksPerPassTwoLinks = 8;
constexpr int kBlocksPerPassMoreLinks = 4;

int BlocksPerPass() {
  int running = 0;
  for (Link* link = Registry().head.load(std::memory_order_acquire); link != nullptr;
       link = link->next.load(std::memory_order_acquire)) {
    if (link->control.load(std::memory_order_acquire) == kControlRun) ++running;
  }
  return running <= 1 ? kBlocksPerPassOneLink : running == 2 ? kBlocksPerPassTwoLinks : kBlocksPerPassMoreLinks;
}

bool RegistryEmpty() {
  LinkRegistry& registry = Registry();
  return registry.head.load(std::memory_order_acquire) == nullptr ||
         registry.tail.load(std::memory_order_acquire) == nullptr;
}

}  // namespace

void IoThread(void*) {
  EnterLibraryThread();
  uint32_t period = ChooseTimerPeriod();
  platform::TimerBeginPeriod(period);
  LinkRegistry& registry = Registry();
  WaitList wait;
  while (registry.head.load(std::memory_order_acquire) != nullptr) {
    int blocksPerPass = BlocksPerPass();
    wait.count = 0;
    for (Link* link = registry.head.load(std::memory_order_acquire); link != nullptr;
         link = link->next.load(std::memory_order_acquire)) {
      // After a close the record is gone; the links behind it wait for the
      // next pass.
      if (ControlStep(*link)) break;
      if (link->control.load(std::memory_order_acquire) != kControlRun) continue;
      // Also a link set back to Run while the control step slept on its
      // Paused state: its events must be dispatched again before it is
      // served, or those this pass posts would reach a held link and be
      // dropped.
      ResumeDispatching(*link);
      ServeWriteSide(*link, blocksPerPass, wait);
      ServeReadSide(*link, wait);
    }
    if (RegistryEmpty()) break;
    if (wait.count == 0) {
      platform::SleepMillis(period);
    } else {
      platform::EventWaitAny(wait.events, wait.count, kPassWaitMs);
    }
  }
  platform::TimerEndPeriod(period);
  LeaveLibraryThread();
}

}  // namespace ombrix
