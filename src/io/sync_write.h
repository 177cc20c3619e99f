#ifndef OMBRIX_IO_SYNC_WRITE_H
#define OMBRIX_IO_SYNC_WRITE_H

#include <cstdint>

#include "registry/link.h"

namespace ombrix {

constexpr int32_t kSyncWriteMaxPayload = 515;
// The result for a null or closed link: apart from -1 (the write failed) so
// that a caller can tell a link that is gone from a device that refused.
constexpr int32_t kSyncWriteNoLink = -3;

// Writes report ID 0 plus length payload bytes to the link's device and
// waits up to timeoutMs. Shares writeLock and writeEvent with the I/O
// thread's writes, so it first waits for an outstanding one to end.
// Returns the payload bytes written (transferred - 1); 0 after a time-out
// (the write is cancelled and collected before the call returns, so nothing
// on this stack is referenced afterwards); -1 when length exceeds 515, the
// write cannot start, fails or moves 0 bytes; kSyncWriteNoLink for a null or closed link.
// Called by the open path (application thread) and by the I/O thread.
int32_t SyncWriteReport(Link* link, const uint8_t* payload, uint32_t length, uint32_t timeoutMs);

}  // namespace ombrix

#endif  // OMBRIX_IO_SYNC_WRITE_H
