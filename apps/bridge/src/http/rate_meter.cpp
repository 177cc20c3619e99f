#include "rate_meter.h"

#include <chrono>

namespace ombrix_bridge {

double RateMeters::Rate(const std::string& key, uint64_t count, TimePoint now) {
  auto [entry, added] = meters_.try_emplace(key);
  Meter& meter = entry->second;
  meter.lastAsked = now;
  if (added || count < meter.windowCount) {  // new, or a counter that started again
    meter = Meter{now, count, 0, now};
    return 0;
  }
  double elapsed = std::chrono::duration<double>(now - meter.windowStart).count();
  if (elapsed >= 1.0) {
    meter.rate = static_cast<double>(count - meter.windowCount) / elapsed;
    meter.windowStart = now;
    meter.windowCount = count;
  }
  return meter.rate;
}

void RateMeters::Prune(TimePoint now) {
  for (auto it = meters_.begin(); it != meters_.end();) {
    if (now - it->second.lastAsked > std::chrono::seconds(10))
      it = meters_.erase(it);
    else
      ++it;
  }
}

}  // namespace ombrix_bridge
