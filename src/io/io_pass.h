// The pieces of one I/O-thread pass over a running link. I/O thread only.
#ifndef OMBRIX_IO_IO_PASS_H
#define OMBRIX_IO_IO_PASS_H

#include <cstdint>

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

// Completes the outstanding write if it has ended, then chooses and issues
// the next report: mode change, transmit configuration, store, DMX output.
void ServeWriteSide(Link& link, int blocksPerPass, WaitList& wait);
// Completes the outstanding read if it has ended (decoding it and running
// the input-block callbacks), then issues the next read.
void ServeReadSide(Link& link, WaitList& wait);

}  // namespace ombrix

#endif  // OMBRIX_IO_IO_PASS_H
