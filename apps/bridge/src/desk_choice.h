// What a receiver does after each merge of a universe for its desks: when
// the sampling period ends, the tracker chooses the desk afresh (what was
// heard meanwhile was never shown, so there is nothing to take back from),
// and a backup universe's change of desk is told once, for the log.
//
// Bridge thread only, one per received universe.
#ifndef OMBRIX_BRIDGE_DESK_CHOICE_H
#define OMBRIX_BRIDGE_DESK_CHOICE_H

#include <string>

#include "output_universe.h"
#include "protocols/merge_mode.h"

namespace ombrix_bridge {

class DeskChoice {
 public:
  // Tracker: SacnUniverse or ArtnetPort. Returns a sentence for the log
  // when the desk shown changed, else an empty string.
  template <typename Tracker>
  std::string Follow(Tracker& tracker, const OutputUniverse& output, TimePoint now) {
    if (output.Sampling(now)) return {};
    if (!sampled_) {
      sampled_ = true;
      tracker.RestartSelection(now);
    }
    if (tracker.backupState() == told_) return {};
    told_ = tracker.backupState();
    return BackupText(output.universe(), told_);
  }

 private:
  bool sampled_ = false;
  ombrix::protocols::BackupSwitch::State told_ = ombrix::protocols::BackupSwitch::State::kNone;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_DESK_CHOICE_H
