// What the source trackers of both protocols have in common: time passed in
// by the caller, the 512-slot universe, the owner buffer's "nobody" value,
// and the log of sources joining and leaving.
//
// Nothing here reads a clock: every call that depends on time takes `now`,
// so tests drive the rules with a fake clock and the bridge with its own.
#ifndef OMBRIX_PROTOCOLS_TRACKING_H
#define OMBRIX_PROTOCOLS_TRACKING_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace ombrix::protocols {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

constexpr size_t kSlotCount = 512;
// Owner value of a slot that no source drives.
constexpr int16_t kNoOwner = -1;

// A change in a universe's (or port's) set of sources, for the bridge to log
// as it happens.
struct SourceEvent {
  enum class Kind : uint8_t {
    kJoined,      // first accepted packet of a new source
    kTimedOut,    // silent for longer than the protocol's source timeout
    kTerminated,  // sACN stream-terminated
    kSyncLost,    // sACN: expected sync packets stopped; data now applied unsynchronised
  };
  Kind kind;
  std::string name;     // sACN source name (printable), Art-Net: empty
  std::string address;  // as the caller passed it in
  TimePoint time;
};

const char* SourceEventKindName(SourceEvent::Kind kind);  // "joined", "timed-out" ...

// A bounded log: the oldest events go when nobody drains it, so a bridge
// that never calls Take() does not grow without bound.
class SourceEventLog {
 public:
  static constexpr size_t kLimit = 64;
  void Add(SourceEvent event);
  // Returns the events since the last call, oldest first, and empties the log.
  std::vector<SourceEvent> Take();

 private:
  std::deque<SourceEvent> events_;
};

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_TRACKING_H
