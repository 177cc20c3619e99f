// A link's DMX output: the frame queue of submitted universes and the two
// output steps the I/O thread runs (queue mode and polled buffer).
//
// Latest frame wins: the I/O thread sends every frame it takes in full, and
// when it takes the next one it pops until the queue is empty, so a fast
// producer never builds a backlog in front of a slow device.
#ifndef OMBRIX_OUTPUT_FRAME_QUEUE_H
#define OMBRIX_OUTPUT_FRAME_QUEUE_H

#include <cstdint>

#include "registry/link.h"

namespace ombrix {

// Empties the ring and marks no frame in transmission. Open path only.
void QueueReset(Link& link);
// Producer side, any thread, several at once: under the link's producer
// lock, copies 512 bytes into the next slot, then publishes it. Returns -1
// (and changes nothing) when four frames already wait, else 1.
int QueuePushFrame(Link& link, const uint8_t* universe);
// Consumer side (I/O thread): copies the oldest frame into sendFrame, then
// frees its slot. Returns -1 when the queue is empty, else 1.
int QueuePopFrame(Link& link);

// Queue-mode output step (I/O thread, link running, no write outstanding,
// output mode active). Returns true when it built the next block report of
// sendFrame in txPayload for the caller to issue; false when nothing is to
// be sent in this pass (it may have taken up the newest frame instead).
bool QueueOutputStep(Link& link);

// Polled output scan (I/O thread, same conditions): looks at up to
// blocksPerPass blocks from blockCursor on and builds the first that is
// dirty or differs from sentShadow. Returns true when a report is built.
bool PolledOutputStep(Link& link, int blocksPerPass);

}  // namespace ombrix

#endif  // OMBRIX_OUTPUT_FRAME_QUEUE_H
