// When each frame of a show is due, and waiting for it.
//
// Drift-free by construction: a frame is due at its recorded offset (less
// the in point, divided by the speed) from the start of its loop, and the
// loop's start is a fixed time after the start of playback. Every due time
// is computed from those two numbers, never from the previous frame's
// wake-up, so a late wake-up delays only its own frame and the error never
// adds up over an hour. Waiting is for an absolute time on the monotonic
// clock (clock_nanosleep with TIMER_ABSTIME), in slices so that the player
// can tick its time-outs and notice a stop request.
#ifndef OMBRIX_CAPTURE_PLAY_SCHEDULE_H
#define OMBRIX_CAPTURE_PLAY_SCHEDULE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ombrix_capture {

// "90", "90.5", "1:30", "01:30.5" or "1:02:03" as seconds; false (error
// set) for anything else or a negative time.
bool ParseShowTime(const std::string& text, double* seconds, std::string* error);
// "mm:ss.s" (or "h:mm:ss.s" from an hour on).
std::string ShowTimeText(int64_t ns);

class PlaySchedule {
 public:
  // fromNs: the in point; toNs < 0: no out point; speed > 0.
  PlaySchedule(int64_t fromNs, int64_t toNs, double speed) : fromNs_(fromNs), toNs_(toNs), speed_(speed) {}

  enum class Place { kBefore, kIn, kAfter };
  Place Locate(int64_t offsetNs) const;
  // The frame's due time from the start of playback (the current loop's
  // start plus its place in the loop).
  int64_t Due(int64_t offsetNs) const;
  // Notes a frame played in the current loop.
  void Played(int64_t offsetNs);
  // Ends the loop and starts the next: it begins one frame interval
  // (intervalNs of show time) after the last frame played, or at the out
  // point's place when there is one and the show reached it.
  void NextLoop(int64_t intervalNs, bool reachedOutPoint);

  int64_t loopStartNs() const { return loopStartNs_; }
  int loops() const { return loops_; }

 private:
  int64_t InLoop(int64_t offsetNs) const;

  int64_t fromNs_;
  int64_t toNs_;
  double speed_;
  int64_t loopStartNs_ = 0;
  int64_t lastInLoopNs_ = -1;
  int loops_ = 0;  // loops completed
};

// The clock the player waits on: the monotonic clock, or a test's.
class PlayClock {
 public:
  virtual ~PlayClock() = default;
  virtual int64_t NowNs() = 0;
  // Returns at or after the absolute time (a real clock may return late).
  virtual void SleepUntilNs(int64_t ns) = 0;
};

class MonotonicClock : public PlayClock {
 public:
  int64_t NowNs() override;
  void SleepUntilNs(int64_t ns) override;
};

// Waits until dueNs, waking at least every sliceNs to call between(now);
// stops waiting early when between returns false. Returns the time it
// stopped waiting (at or after dueNs unless between said stop).
int64_t WaitUntil(PlayClock& clock, int64_t dueNs, int64_t sliceNs, const std::function<bool(int64_t now)>& between);

// Lateness figures in bounded memory: 10 us buckets up to one second.
class LatenessHistogram {
 public:
  LatenessHistogram() : buckets_(kBuckets + 1, 0) {}
  void Add(int64_t lateNs);
  uint64_t count() const { return count_; }
  double QuantileMs(double q) const;  // 0 when empty
  double MaxMs() const { return maxNs_ / 1e6; }
  uint64_t Over(int64_t ns) const;  // frames later than ns

 private:
  static constexpr int64_t kBucketNs = 10000;
  static constexpr size_t kBuckets = 100000;
  std::vector<uint32_t> buckets_;
  uint64_t count_ = 0;
  int64_t maxNs_ = 0;
};

}  // namespace ombrix_capture

#endif  // OMBRIX_CAPTURE_PLAY_SCHEDULE_H
