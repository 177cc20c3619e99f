#include "output_universe.h"

#include <chrono>
#include <cstdio>

namespace ombrix_bridge {

std::string OutputUniverse::Apply(const uint8_t levels[512], size_t sources, TimePoint now) {
  bool wasDriven = driven_;
  driven_ = sources > 0;
  if (driven_) {
    fading_ = false;
    std::copy(levels, levels + 512, look_.begin());
    Write(levels);
    return wasDriven ? std::string() : UniverseText(universe_) + ": driven by the network";
  }
  if (!wasDriven) return {};
  // Every source has gone: the look stays until the policy says otherwise.
  if (loss_ == LossPolicy::kHold) return UniverseText(universe_) + ": every source gone; holding the last look";
  fading_ = true;
  fadeStart_ = now;
  char seconds[32];
  snprintf(seconds, sizeof(seconds), "%.1f", fadeSeconds_);
  return UniverseText(universe_) + ": every source gone; fading to zero over " + seconds + " s";
}

void OutputUniverse::Tick(TimePoint now) {
  if (!fading_) return;
  double elapsed = std::chrono::duration<double>(now - fadeStart_).count();
  double remaining = elapsed >= fadeSeconds_ ? 0.0 : 1.0 - elapsed / fadeSeconds_;
  uint8_t levels[512];
  for (int i = 0; i < 512; ++i) levels[i] = static_cast<uint8_t>(look_[i] * remaining + 0.5);
  Write(levels);
  if (remaining == 0.0) {
    fading_ = false;
    look_.fill(0);
  }
}

void OutputUniverse::Write(const uint8_t levels[512]) {
  std::copy(levels, levels + 512, shown_.begin());
  for (InterfacePort* port : ports_) port->WriteOutput(levels);
}

}  // namespace ombrix_bridge
