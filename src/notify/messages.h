// The thread messages the I/O thread posts to the event thread. Every one
// carries wParam 0 and the Link's address as lParam.
#ifndef OMBRIX_NOTIFY_MESSAGES_H
#define OMBRIX_NOTIFY_MESSAGES_H

#include <cstdint>

#include "platform/platform.h"
#include "registry/registry.h"

namespace ombrix {

constexpr uint32_t kMsgFirst = 1025;
constexpr uint32_t kMsgInputChange = 1025;
// 1026 lies in the range but is never posted: input blocks are reported by
// the I/O thread itself.
constexpr uint32_t kMsgInterfaceChange = 1027;
constexpr uint32_t kMsgResume = 1028;
constexpr uint32_t kMsgPause = 1029;
constexpr uint32_t kMsgDetach = 1030;
constexpr uint32_t kMsgClosed = 1031;
constexpr uint32_t kMsgHeartbeat = 1032;
constexpr uint32_t kMsgLast = 1032;

// I/O thread only. The result is not examined: the event thread's queue
// exists from before the I/O thread starts until after it ends.
inline void PostLinkMessage(uint32_t message, Link* link) {
  platform::MessagePost(Registry().eventThreadId.load(std::memory_order_acquire), message, 0,
                        reinterpret_cast<intptr_t>(link));
}

}  // namespace ombrix

#endif  // OMBRIX_NOTIFY_MESSAGES_H
