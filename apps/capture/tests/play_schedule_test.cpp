// The schedule and the wait on a fake clock: due times come from the
// recorded offsets alone, so late wake-ups never add up.
#include <gtest/gtest.h>

#include "play_schedule.h"

namespace ombrix_capture_test {
namespace {

using namespace ombrix_capture;

// A clock whose sleeps always return overshootNs late, and that moves
// on by workNs each time it is read (the player's own work).
class FakeClock : public PlayClock {
 public:
  FakeClock(int64_t overshootNs, int64_t workNs) : overshootNs_(overshootNs), workNs_(workNs) {}
  int64_t NowNs() override { return now_ += workNs_; }
  void SleepUntilNs(int64_t ns) override {
    ++sleeps;
    if (ns > now_) now_ = ns + overshootNs_;
  }
  int sleeps = 0;

 private:
  int64_t now_ = 1000000000;
  int64_t overshootNs_;
  int64_t workNs_;
};

TEST(ShowTime, SecondsAndMinutes) {
  double seconds = 0;
  std::string error;
  ASSERT_TRUE(ParseShowTime("90", &seconds, &error));
  EXPECT_DOUBLE_EQ(seconds, 90);
  ASSERT_TRUE(ParseShowTime("1:30.5", &seconds, &error));
  EXPECT_DOUBLE_EQ(seconds, 90.5);
  ASSERT_TRUE(ParseShowTime("1:02:03", &seconds, &error));
  EXPECT_DOUBLE_EQ(seconds, 3723);
  for (const char* bad : {"", "x", "1:60", "-3", "1:", ":5", "1.5:00", "1:2:3:4", "1e3"}) {
    EXPECT_FALSE(ParseShowTime(bad, &seconds, &error)) << bad;
  }
  EXPECT_EQ(error, "\"1e3\" is not a time in seconds or mm:ss.");
  EXPECT_EQ(ShowTimeText(83400000000LL), "01:23.4");
  EXPECT_EQ(ShowTimeText(3723000000000LL), "1:02:03.0");
}

TEST(Schedule, InAndOutPointsAndSpeed) {
  PlaySchedule schedule(10000000000LL, 20000000000LL, 2.0);
  EXPECT_EQ(schedule.Locate(9999999999LL), PlaySchedule::Place::kBefore);
  EXPECT_EQ(schedule.Locate(10000000000LL), PlaySchedule::Place::kIn);
  EXPECT_EQ(schedule.Locate(20000000001LL), PlaySchedule::Place::kAfter);
  EXPECT_EQ(schedule.Due(10000000000LL), 0);
  EXPECT_EQ(schedule.Due(14000000000LL), 2000000000LL);
  // Reaching the out point: the next loop starts (to - from) / speed on.
  schedule.Played(19990000000LL);
  schedule.NextLoop(25000000, true);
  EXPECT_EQ(schedule.loopStartNs(), 5000000000LL);
  EXPECT_EQ(schedule.Due(10000000000LL), 5000000000LL);
}

TEST(Schedule, ALoopStartsOneFrameIntervalAfterItsLastFrame) {
  PlaySchedule schedule(0, -1, 1.0);
  for (int64_t offset = 0; offset <= 1000000000; offset += 25000000) schedule.Played(offset);
  schedule.NextLoop(25000000, false);
  EXPECT_EQ(schedule.loopStartNs(), 1025000000);
  schedule.Played(1000000000);
  schedule.NextLoop(25000000, false);
  EXPECT_EQ(schedule.loopStartNs(), 2050000000);
  EXPECT_EQ(schedule.Due(25000000), 2075000000);
  EXPECT_EQ(schedule.loops(), 2);
}

// An hour at 44 frames per second on a clock that wakes 300 us late every
// time: each frame is late by the overshoot alone, the last as the first;
// a chain of relative sleeps would be 160000 x 300 us = 48 s behind.
TEST(Wait, LateWakeUpsDoNotAddUp) {
  FakeClock clock(300000, 1000);
  PlaySchedule schedule(0, -1, 1.0);
  int64_t start = clock.NowNs();
  int64_t worst = 0, last = 0;
  const int64_t interval = 1000000000 / 44;
  const int frames = 44 * 3600;
  for (int i = 0; i < frames; ++i) {
    int64_t due = start + schedule.Due(i * interval);
    int64_t now = WaitUntil(clock, due, 20000000, [](int64_t) { return true; });
    ASSERT_GE(now, due);
    last = now - due;
    worst = std::max(worst, last);
  }
  EXPECT_LE(worst, 302000);
  EXPECT_LE(last, 302000);
}

TEST(Wait, LongWaitsAreSlicedAndStopEarly) {
  FakeClock clock(0, 0);
  int calls = 0;
  int64_t start = clock.NowNs();
  int64_t now = WaitUntil(clock, start + 1000000000, 20000000, [&calls](int64_t) { return ++calls < 10; });
  EXPECT_EQ(calls, 10);
  EXPECT_EQ(now, start + 10 * 20000000);
  calls = 0;
  now = WaitUntil(clock, start + 1000000000, 20000000, [&calls](int64_t) { return ++calls > 0; });
  EXPECT_EQ(now, start + 1000000000);
}

TEST(Lateness, Quantiles) {
  LatenessHistogram histogram;
  for (int i = 0; i < 99; ++i) histogram.Add(100000);  // 0.1 ms
  histogram.Add(5000000);                              // 5 ms
  EXPECT_NEAR(histogram.QuantileMs(0.5), 0.1, 0.011);
  EXPECT_NEAR(histogram.QuantileMs(0.99), 0.1, 0.011);
  EXPECT_NEAR(histogram.QuantileMs(1.0), 5.0, 0.011);
  EXPECT_EQ(histogram.Over(2000000), 1u);
  histogram.Add(int64_t{10} * 1000000000);  // beyond the buckets: still counted, max kept
  EXPECT_DOUBLE_EQ(histogram.MaxMs(), 10000.0);
}

}  // namespace
}  // namespace ombrix_capture_test
