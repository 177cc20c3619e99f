// The API side of the link control handshake. A caller that has seen a
// link Paused knows no library thread works on it or calls its callbacks;
// one that has seen Closed owns the record.
#ifndef OMBRIX_REGISTRY_HANDSHAKE_H
#define OMBRIX_REGISTRY_HANDSHAKE_H

#include "registry/link.h"

namespace ombrix {

// How a waiting caller sleeps between polls: the exports use the system's
// 1 ms sleep, the open path the short sleep of 100 us.
enum class PollSleep { kSystemMillisecond, kShort100Micros };

// Stores Pause and polls until the I/O thread has answered Paused.
void PauseLink(Link& link, PollSleep sleep = PollSleep::kSystemMillisecond);
// Pauses every registered link, one after the other in list order.
void PauseAllLinks(PollSleep sleep = PollSleep::kSystemMillisecond);
// Stores Run and returns; the I/O thread resumes the link on its next visit.
void ResumeLink(Link& link);
// Stores Run in every registered link.
void ResumeAllLinks();
// Stores Close and polls until the I/O thread has answered Closed.
void RequestCloseAndWait(Link& link);

}  // namespace ombrix

#endif  // OMBRIX_REGISTRY_HANDSHAKE_H
