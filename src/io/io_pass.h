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

// Every transfer that ends in failure reports an interface change. One that
// cannot even start is reported only while nothing has been reported since
// the link's last good transfer: an interface unplugged while none of its
// transfers was outstanding (input queued up, so every read completed at
// once) would otherwise never be reported at all, yet a dead device whose
// transfers fail to start on every pass must not flood the application.
inline void ReportTransferFailure(Link& link, bool started) {
  if (!started && link.failureReported != 0) return;
  link.failureReported = 1;
  PostLinkMessage(kMsgInterfaceChange, &link);
}

inline void NoteTransferSuccess(Link& link) { link.failureReported = 0; }

// Completes the outstanding write if it has ended, then chooses and issues
// the next report: mode change, transmit configuration, store, DMX output.
void ServeWriteSide(Link& link, int blocksPerPass, WaitList& wait);
// Completes the outstanding read if it has ended (decoding it and running
// the input-block callbacks), then issues the next read.
void ServeReadSide(Link& link, WaitList& wait);

}  // namespace ombrix

#endif  // OMBRIX_IO_IO_PASS_H
