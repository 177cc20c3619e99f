// Merge mode names, source roles and the primary/backup switch.
#include "protocols/merge_mode.h"

#include <algorithm>

namespace ombrix::protocols {

namespace {

constexpr const char* kModeNames[] = {"htp", "ltp", "backup", "only"};

bool Names(const std::vector<std::string>& list, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (name.empty()) continue;
    if (std::find(list.begin(), list.end(), name) != list.end()) return true;
  }
  return false;
}

}  // namespace

const char* MergeModeName(MergeMode mode) {
  size_t index = static_cast<size_t>(mode);
  return index < std::size(kModeNames) ? kModeNames[index] : "?";
}

bool ParseMergeMode(std::string_view text, MergeMode* mode) {
  for (size_t index = 0; index < std::size(kModeNames); ++index) {
    if (text == kModeNames[index]) {
      *mode = static_cast<MergeMode>(index);
      return true;
    }
  }
  return false;
}

SourceRole RoleOf(const MergeRules& rules, std::initializer_list<std::string_view> names) {
  if (Names(rules.primary, names)) return SourceRole::kPrimary;
  if (Names(rules.backup, names)) return SourceRole::kBackup;
  return SourceRole::kOther;
}

bool BackupSwitch::Update(bool primaryPresent, bool backupPresent, std::chrono::milliseconds takeback, TimePoint now) {
  State before = state_;
  if (!primaryPresent) primaryBack_ = false;
  switch (state_) {
    case State::kPrimary:
      if (!primaryPresent) state_ = backupPresent ? State::kBackup : State::kNone;
      break;
    case State::kNone:
      // Nothing to hand back from: whichever desk is there applies at once,
      // the primary first.
      if (primaryPresent)
        state_ = State::kPrimary;
      else if (backupPresent)
        state_ = State::kBackup;
      break;
    case State::kBackup:
      if (!backupPresent) {
        state_ = primaryPresent ? State::kPrimary : State::kNone;
        break;
      }
      if (!primaryPresent) break;
      if (!primaryBack_) {
        primaryBack_ = true;
        primaryBackSince_ = now;
      }
      if (now - primaryBackSince_ >= takeback) state_ = State::kPrimary;
      break;
  }
  if (state_ != State::kBackup) primaryBack_ = false;
  return state_ != before;
}

const char* BackupStateName(BackupSwitch::State state) {
  switch (state) {
    case BackupSwitch::State::kPrimary:
      return "primary";
    case BackupSwitch::State::kBackup:
      return "backup";
    case BackupSwitch::State::kNone:
      break;
  }
  return "none";
}

}  // namespace ombrix::protocols
