// The source event log shared by both trackers.
#include "protocols/tracking.h"

#include <utility>

namespace ombrix::protocols {

const char* SourceEventKindName(SourceEvent::Kind kind) {
  switch (kind) {
    case SourceEvent::Kind::kJoined:
      return "joined";
    case SourceEvent::Kind::kTimedOut:
      return "timed-out";
    case SourceEvent::Kind::kTerminated:
      return "terminated";
    case SourceEvent::Kind::kSyncLost:
      return "sync-lost";
    case SourceEvent::Kind::kDeselected:
      return "deselected";
  }
  return "?";
}

void SourceEventLog::Add(SourceEvent event) {
  if (events_.size() == kLimit) events_.pop_front();
  events_.push_back(std::move(event));
}

std::vector<SourceEvent> SourceEventLog::Take() {
  std::vector<SourceEvent> taken(std::make_move_iterator(events_.begin()), std::make_move_iterator(events_.end()));
  events_.clear();
  return taken;
}

}  // namespace ombrix::protocols
