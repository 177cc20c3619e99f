#include "play_schedule.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ombrix_capture {

bool ParseShowTime(const std::string& text, double* seconds, std::string* error) {
  double total = 0;
  size_t start = 0;
  int parts = 0;
  bool good = !text.empty();
  while (good) {
    size_t colon = text.find(':', start);
    std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    char* end = nullptr;
    double value = part.empty() ? -1 : strtod(part.c_str(), &end);
    bool last = colon == std::string::npos;
    // Only the last part may have a fraction; minutes and seconds after a
    // colon are below 60.
    if (value < 0 || *end != '\0' || part.find_first_not_of("0123456789.") != std::string::npos ||
        (!last && part.find('.') != std::string::npos) || (parts > 0 && value >= 60) || ++parts > 3) {
      good = false;
      break;
    }
    total = total * 60 + value;
    if (last) break;
    start = colon + 1;
  }
  if (!good || !std::isfinite(total)) {
    *error = "\"" + text + "\" is not a time in seconds or mm:ss.";
    return false;
  }
  *seconds = total;
  return true;
}

std::string ShowTimeText(int64_t ns) {
  if (ns < 0) ns = 0;
  int64_t tenths = ns / 100000000;
  int64_t seconds = tenths / 10;
  char text[48];
  if (seconds >= 3600) {
    snprintf(text, sizeof(text), "%lld:%02lld:%02lld.%lld", static_cast<long long>(seconds / 3600),
             static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
             static_cast<long long>(tenths % 10));
  } else {
    snprintf(text, sizeof(text), "%02lld:%02lld.%lld", static_cast<long long>(seconds / 60),
             static_cast<long long>(seconds % 60), static_cast<long long>(tenths % 10));
  }
  return text;
}

PlaySchedule::Place PlaySchedule::Locate(int64_t offsetNs) const {
  if (offsetNs < fromNs_) return Place::kBefore;
  if (toNs_ >= 0 && offsetNs > toNs_) return Place::kAfter;
  return Place::kIn;
}

int64_t PlaySchedule::InLoop(int64_t offsetNs) const {
  return static_cast<int64_t>(std::llround(static_cast<double>(offsetNs - fromNs_) / speed_));
}

int64_t PlaySchedule::Due(int64_t offsetNs) const { return loopStartNs_ + InLoop(offsetNs); }

void PlaySchedule::Played(int64_t offsetNs) { lastInLoopNs_ = std::max(lastInLoopNs_, InLoop(offsetNs)); }

void PlaySchedule::NextLoop(int64_t intervalNs, bool reachedOutPoint) {
  int64_t length;
  if (reachedOutPoint && toNs_ >= 0) {
    length = InLoop(toNs_);
  } else {
    if (intervalNs <= 0) intervalNs = 1000000000 / 44;
    length = std::max<int64_t>(lastInLoopNs_, 0) + static_cast<int64_t>(std::llround(intervalNs / speed_));
  }
  loopStartNs_ += std::max<int64_t>(length, 1000000);
  lastInLoopNs_ = -1;
  ++loops_;
}

int64_t MonotonicClock::NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void MonotonicClock::SleepUntilNs(int64_t ns) {
  timespec due{};
  due.tv_sec = static_cast<time_t>(ns / 1000000000);
  due.tv_nsec = static_cast<long>(ns % 1000000000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
  }
}

int64_t WaitUntil(PlayClock& clock, int64_t dueNs, int64_t sliceNs, const std::function<bool(int64_t now)>& between) {
  int64_t now = clock.NowNs();
  while (now < dueNs) {
    clock.SleepUntilNs(std::min(dueNs, now + sliceNs));
    now = clock.NowNs();
    if (now < dueNs && between && !between(now)) return now;
  }
  return now;
}

void LatenessHistogram::Add(int64_t lateNs) {
  if (lateNs < 0) lateNs = 0;
  size_t bucket = static_cast<size_t>(std::min<int64_t>(lateNs / kBucketNs, kBuckets));
  ++buckets_[bucket];
  ++count_;
  maxNs_ = std::max(maxNs_, lateNs);
}

double LatenessHistogram::QuantileMs(double q) const {
  if (count_ == 0) return 0;
  uint64_t rank = static_cast<uint64_t>(std::ceil(q * static_cast<double>(count_)));
  if (rank == 0) rank = 1;
  uint64_t seen = 0;
  for (size_t i = 0; i < buckets_.size(); ++i) {
    seen += buckets_[i];
    // The bucket's upper edge: a figure never better than the truth.
    if (seen >= rank) return std::min<double>((static_cast<double>(i) + 1) * kBucketNs, maxNs_) / 1e6;
  }
  return MaxMs();
}

uint64_t LatenessHistogram::Over(int64_t ns) const {
  uint64_t over = 0;
  for (size_t i = static_cast<size_t>(std::min<int64_t>(ns / kBucketNs, kBuckets)); i < buckets_.size(); ++i) {
    over += buckets_[i];
  }
  return over;
}

}  // namespace ombrix_capture
