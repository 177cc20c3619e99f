#include "output_universe.h"

#include <chrono>
#include <cstdio>

namespace ombrix_bridge {

std::string OutputUniverse::Apply(const uint8_t levels[512], size_t sources, TimePoint now) {
  bool wasDriven = driven_;
  driven_ = sources > 0;
  if (driven_) {
    everDriven_ = true;
    fading_ = false;
    failSafe_ = false;
    std::copy(levels, levels + 512, look_.begin());
    Write(levels);
    return wasDriven ? std::string() : UniverseText(universe_) + ": driven by the network";
  }
  if (!wasDriven) return {};
  return UniverseText(universe_) + ": every source gone; " + ShowFailSafe(now);
}

std::string OutputUniverse::ShowFailSafe(TimePoint now) {
  failSafe_ = true;
  Look fixed;
  switch (loss_) {
    case LossPolicy::kFade: {
      fading_ = true;
      fadeStart_ = now;
      char seconds[32];
      snprintf(seconds, sizeof(seconds), "%.1f", fadeSeconds_);
      return std::string("fading to zero over ") + seconds + " s";
    }
    case LossPolicy::kZero:
      fixed.fill(0);
      Write(fixed.data());
      return "all slots at zero";
    case LossPolicy::kFull:
      fixed.fill(255);
      Write(fixed.data());
      return "all slots at full";
    case LossPolicy::kScene:
      if (!scene_) return "no scene has been recorded, so holding the last look";
      Write(scene_->data());
      return "showing the recorded scene";
    case LossPolicy::kHold:
      break;
  }
  return "holding the last look";
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

void OutputUniverse::Clear() {
  fading_ = false;
  look_.fill(0);
  Write(look_.data());
}

std::string BackupText(const NetworkUniverse& universe, ombrix::protocols::BackupSwitch::State state) {
  using State = ombrix::protocols::BackupSwitch::State;
  const char* what = state == State::kPrimary  ? "the primary source's look is shown"
                     : state == State::kBackup ? "the primary source is lost; the backup's look is shown"
                                               : "neither the primary nor the backup source is present";
  return UniverseText(universe) + ": " + what;
}

uint8_t Status3Failsafe(LossPolicy loss) {
  using namespace ombrix::protocols;
  switch (loss) {
    case LossPolicy::kFade:  // a fade ends at zero
    case LossPolicy::kZero:
      return kArtStatus3FailsafeZero;
    case LossPolicy::kFull:
      return kArtStatus3FailsafeFull;
    case LossPolicy::kScene:
      return kArtStatus3FailsafeScene;
    case LossPolicy::kHold:
      break;
  }
  return kArtStatus3FailsafeHold;
}

void OutputUniverse::Write(const uint8_t levels[512]) {
  std::copy(levels, levels + 512, shown_.begin());
  for (InterfacePort* port : ports_) port->WriteOutput(levels);
}

}  // namespace ombrix_bridge
