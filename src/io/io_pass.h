// The pieces of one I/O-thread pass over a running link. I/O thread only.
#ifndef OMBRIX_IO_IO_PASS_H
#define OMBRIX_IO_IO_PASS_H

#include <cstdint>

#include "notify/messages.h"
#include "platform/platform.h"
#include "registry/link.h"

namespace ombrix {

// The events of the transfers left outstanding in this pass. Fixed storage
// on the I/O thread's stack: the pass allocates nothing. One wait takes at
// most 64 events; with more than 32 busy links the rest are not waited on,
// and their completions are picked up by the next pass, at most 2 ms later.
struct WaitList {
  platform::Event events[platform::kMaxWaitEvents];
  uint32_t count = 0;

  void Add(platform::Event event) {
    if (count < platform::kMaxWaitEvents) events[count++] = event;
  }
};

// Which half of a link a transfer belongs to. Each half keeps its own
// "already reported" mark, so that one half that keeps failing is not
// reported again every time the other half succeeds.
enum class TransferSide : int { kRead = 0, kWrite = 1 };

// Every transfer that ends in failure reports an interface change. One that
// cannot even start is reported only while nothing has been reported for
// its side since that side's last good transfer: an interface unplugged
// while none of its transfers was outstanding (input queued up, so every
// read completed at once) would otherwise never be reported at all, yet a
// dead device whose transfers fail to start on every pass must not flood
// the application. The mark is per side: a device whose reads cannot start
// while its writes succeed is reported once, not once per written report.
inline void ReportTransferFailure(Link& link, TransferSide side, bool started) {
  int32_t& reported = link.failureReported[static_cast<int>(side)];
  if (!started && reported != 0) return;
  reported = 1;
  PostLinkMessage(kMsgInterfaceChange, &link);
}

inline void NoteTransferSuccess(Link& link, TransferSide side) { link.failureReported[static_cast<int>(side)] = 0; }

// Completes the outstanding write if it has ended, then chooses and issues
// the next report: mode change, transmit configuration, store, DMX output.
void ServeWriteSide(Link& link, int blocksPerPass, WaitList& wait);
// Completes the outstanding read if it has ended (decoding it and running
// the input-block callbacks), then issues the next read.
void ServeReadSide(Link& link, WaitList& wait);

}  // namespace ombrix

#endif  // OMBRIX_IO_IO_PASS_H
