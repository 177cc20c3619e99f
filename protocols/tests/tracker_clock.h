// A fake clock for the source trackers: times are milliseconds after an
// arbitrary start, so every rule is driven by the test, never by the wall.
#ifndef OMBRIX_TESTS_PROTOCOLS_TRACKER_CLOCK_H
#define OMBRIX_TESTS_PROTOCOLS_TRACKER_CLOCK_H

#include <array>
#include <chrono>
#include <cstdint>

#include "protocols/tracking.h"

namespace ombrix_test {

inline ombrix::protocols::TimePoint At(int64_t milliseconds) {
  return ombrix::protocols::TimePoint(std::chrono::hours(1)) + std::chrono::milliseconds(milliseconds);
}

// The result of one merge, for checking slots by index.
struct Merged {
  std::array<uint8_t, ombrix::protocols::kSlotCount> levels{};
  std::array<int16_t, ombrix::protocols::kSlotCount> owner{};
  size_t driving = 0;
};

template <typename Tracker>
Merged MergeOf(const Tracker& tracker) {
  Merged merged;
  merged.driving = tracker.Merge(merged.levels.data(), merged.owner.data());
  return merged;
}

}  // namespace ombrix_test

#endif  // OMBRIX_TESTS_PROTOCOLS_TRACKER_CLOCK_H
