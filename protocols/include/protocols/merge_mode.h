// How a universe's sources are merged, and which of them it takes.
//
//   htp     highest priority wins each slot; equal priorities take the
//           highest level (sACN's rule, Art-Net's HTP)
//   ltp     highest priority wins each slot; equal priorities take the level
//           that changed last (Art-Net's LTP, a second console taking over)
//   backup  a primary desk and a backup desk: only the primary's look
//           applies while it is present, only the backup's while the primary
//           is lost, and the primary takes over again once it has been back
//           for the takeback time, so the output never shows a mix of both
//   only    the named sources alone; any other is dropped as not selected
//
// Sources are named by what an operator can read off the status page: an
// sACN CID ("6ba7b810-9dad-11d1-80b4-00c04fd430c8"), a source name, or an
// address ("198.18.0.1"; for Art-Net also "198.18.0.1/1" for Physical 1).
#ifndef OMBRIX_PROTOCOLS_MERGE_MODE_H
#define OMBRIX_PROTOCOLS_MERGE_MODE_H

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tracking.h"

namespace ombrix::protocols {

enum class MergeMode : uint8_t { kHtp, kLtp, kBackup, kOnly };

const char* MergeModeName(MergeMode mode);  // "htp", "ltp", "backup", "only"
// Parses a name MergeModeName gives; false for anything else.
bool ParseMergeMode(std::string_view text, MergeMode* mode);

// A universe's merge mode with the sources it names.
struct MergeRules {
  MergeMode mode = MergeMode::kHtp;
  std::vector<std::string> primary;  // backup: the main desk; only: the sources taken
  std::vector<std::string> backup;   // backup: the backup desk
  // backup: how long the primary must be back before it takes over again.
  std::chrono::milliseconds takeback{0};
};

// The role of one source under the rules, from the names it goes by (an
// empty name matches nothing).
enum class SourceRole : uint8_t { kPrimary, kBackup, kOther };
SourceRole RoleOf(const MergeRules& rules, std::initializer_list<std::string_view> names);

// Which desk a backup-mode universe shows. Fed before every merge with
// whether a primary and a backup source are present; the merge then takes
// only the sources of the active role.
class BackupSwitch {
 public:
  enum class State : uint8_t {
    kNone,     // neither desk present
    kPrimary,  // the primary's look
    kBackup,   // the backup's look (the primary is lost, or back for less than the takeback)
  };
  // Returns true when the state changed.
  bool Update(bool primaryPresent, bool backupPresent, std::chrono::milliseconds takeback, TimePoint now);
  State state() const { return state_; }
  // Whether a source of this role drives the output in the current state.
  bool Drives(SourceRole role) const {
    return (state_ == State::kPrimary && role == SourceRole::kPrimary) ||
           (state_ == State::kBackup && role == SourceRole::kBackup);
  }

 private:
  State state_ = State::kNone;
  bool primaryBack_ = false;  // present again while the backup is shown (since primaryBackSince_)
  TimePoint primaryBackSince_{};
};

const char* BackupStateName(BackupSwitch::State state);  // "none", "primary", "backup"

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_MERGE_MODE_H
