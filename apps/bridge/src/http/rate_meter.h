// Packets (or blocks) per second from a running count, measured over about
// a second so that the figure holds still long enough to read.
#ifndef OMBRIX_BRIDGE_HTTP_RATE_METER_H
#define OMBRIX_BRIDGE_HTTP_RATE_METER_H

#include <map>
#include <string>

#include "protocols/tracking.h"

namespace ombrix_bridge {

using ombrix::protocols::TimePoint;

// Rates of many counters, each known by a key. Counters not seen for a
// while are forgotten, so keys of departed sources do not pile up.
//
// Bridge thread only.
class RateMeters {
 public:
  // The rate of the counter key, which now stands at count.
  double Rate(const std::string& key, uint64_t count, TimePoint now);
  // Forgets counters not asked about for 10 s.
  void Prune(TimePoint now);

 private:
  struct Meter {
    TimePoint windowStart{};
    uint64_t windowCount = 0;
    double rate = 0;
    TimePoint lastAsked{};
  };
  std::map<std::string, Meter> meters_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_RATE_METER_H
