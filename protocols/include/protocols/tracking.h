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
// Sources that time out within this long of the first of them leave
// together: a network cut takes every desk a few milliseconds apart, and
// removing them one by one would show, and then hold, a look of the
// survivors that no desk ever sent. A lost source keeps its last levels in
// the merge until its batch leaves.
constexpr std::chrono::milliseconds kSourceLossWindow{1000};

// The sources of one universe that timed out and wait to leave together.
class LossBatch {
 public:
  // A source timed out now: it joins the open batch, or opens one.
  void Lost(TimePoint now) {
    if (open_) return;
    open_ = true;
    since_ = now;
  }
  // Whether the batch's window has closed and its sources should leave.
  bool Due(TimePoint now) const { return open_ && now - since_ >= kSourceLossWindow; }
  void Close() { open_ = false; }

 private:
  bool open_ = false;
  TimePoint since_{};
};

// A change in a universe's (or port's) set of sources, for the bridge to log
// as it happens.
struct SourceEvent {
  enum class Kind : uint8_t {
    kJoined,      // first accepted packet of a new source
    kTimedOut,    // silent for longer than the protocol's source timeout
    kTerminated,  // sACN stream-terminated
    kSyncLost,    // sACN: expected sync packets stopped; data now applied unsynchronised
    kDeselected,  // no longer taken: the merge rules changed, or a merge was cancelled
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
