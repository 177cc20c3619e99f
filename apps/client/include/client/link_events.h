// Counts what the library's callbacks report for each tracked link: input
// blocks, heartbeats (and configuration readbacks) and interface changes.
//
// The callbacks carry no user pointer, only the link's id, so the counters
// live in a fixed table that the callbacks search by id. The I/O thread and
// the event thread write them; the command's own thread reads them.
#ifndef OMBRIX_TOOL_LINK_EVENTS_H
#define OMBRIX_TOOL_LINK_EVENTS_H

#include <atomic>
#include <cstdint>

#include "client/session.h"

namespace ombrix_tool {

struct LinkCounters {
  std::atomic<int32_t> linkId{0};
  std::atomic<uint64_t> inputBlocks{0};
  std::atomic<uint64_t> heartbeats{0};
  std::atomic<uint64_t> interfaceChanges{0};
};

constexpr int kMaxTrackedLinks = 32;

class LinkEvents {
 public:
  explicit LinkEvents(const Api& api) : api_(api) {}
  // Unregisters the heartbeat callback, which outlives the links.
  ~LinkEvents();
  LinkEvents(const LinkEvents&) = delete;
  LinkEvents& operator=(const LinkEvents&) = delete;

  // Registers the per-link callbacks of an open link, and the process-wide
  // heartbeat callback through the first link whose interface offers
  // heartbeats. Returns the link's counters, or null when the table is full
  // or the link is not open.
  LinkCounters* Track(const Serial& serial);

  // Whether some tracked interface offers heartbeats.
  bool heartbeats() const { return heartbeatSerialSet_; }

 private:
  const Api& api_;
  Serial heartbeatSerial_{};
  bool heartbeatSerialSet_ = false;
};

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_LINK_EVENTS_H
