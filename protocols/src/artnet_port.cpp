// Art-Net sources of one output port: two-source HTP, time-out, ArtSync.
#include "protocols/artnet_port.h"

#include <cstring>

#include "protocols/slot_merge.h"

namespace ombrix::protocols {

namespace {

// The same window as sACN's: a packet at most 19 behind the last accepted
// one is stale; further behind, the sender has restarted its count.
bool OutOfSequence(uint8_t last, uint8_t received) {
  if (last == 0 || received == 0) return false;
  int8_t difference = static_cast<int8_t>(static_cast<uint8_t>(received - last));
  return difference <= 0 && difference > -20;
}

}  // namespace

ArtnetPort::ArtnetPort(uint16_t portAddress) : portAddress_(portAddress) {}

void ArtnetPort::AssignRole(Source& source) const {
  std::string withPhysical = source.info.address + "/" + std::to_string(source.info.physical);
  source.info.role = RoleOf(rules_, {source.info.address, withPhysical});
}

void ArtnetPort::SetRules(const MergeRules& rules, TimePoint now) {
  rules_ = rules;
  for (size_t index = sources_.size(); index-- > 0;) {
    AssignRole(sources_[index]);
    if (rules_.mode == MergeMode::kOnly && sources_[index].info.role != SourceRole::kPrimary) {
      events_.Add({SourceEvent::Kind::kDeselected, std::string(), sources_[index].info.address, now});
      sources_.erase(sources_.begin() + static_cast<std::ptrdiff_t>(index));
    }
  }
  ++generation_;
  Reselect(now);
}

void ArtnetPort::Reselect(TimePoint now) {
  if (rules_.mode != MergeMode::kBackup) return;
  bool primary = false, backup = false;
  for (const Source& source : sources_) {
    if (source.info.slotCount == 0) continue;
    primary = primary || source.info.role == SourceRole::kPrimary;
    backup = backup || source.info.role == SourceRole::kBackup;
  }
  if (backup_.Update(primary, backup, rules_.takeback, now)) ++generation_;
}

bool ArtnetPort::Excludes(std::string_view address, uint8_t physical, TimePoint now) {
  for (Excluded& excluded : excluded_) {
    if (excluded.address == address && excluded.physical == physical) {
      excluded.lastSeen = now;
      return true;
    }
  }
  return false;
}

void ArtnetPort::TakeOnly(const Source& kept, TimePoint now) {
  cancelMerge_ = false;
  for (size_t index = sources_.size(); index-- > 0;) {
    Source& other = sources_[index];
    if (&other == &kept) continue;
    excluded_.push_back({other.info.address, other.info.physical, now});
    events_.Add({SourceEvent::Kind::kDeselected, std::string(), other.info.address, now});
    sources_.erase(sources_.begin() + static_cast<std::ptrdiff_t>(index));
  }
  ++generation_;
}

void ArtnetPort::StoreLevels(Source& source, const uint8_t* data, uint16_t count) {
  source.levels.Store(data, count, &changeClock_);
  source.info.slotCount = count;
  source.info.held = false;
  ++generation_;
}

bool ArtnetPort::Synchronous(std::string_view sender, TimePoint now) const {
  // A merging port outputs as data comes; so does a node that has not seen
  // ArtSync from this sender within the last 4 s.
  if (merging() || syncSender_.empty() || sender != syncSender_) return false;
  return now - lastSync_ < kArtnetSyncTimeout;
}

std::optional<DropKind> ArtnetPort::OnDmx(const ArtDmx& packet, std::string_view address, TimePoint now) {
  if (packet.portAddress != portAddress_) return DropKind::kNotConfigured;
  Source* source = nullptr;
  for (Source& candidate : sources_) {
    if (candidate.info.address == address && candidate.info.physical == packet.physical) source = &candidate;
  }
  if (!source && Excludes(address, packet.physical, now)) return DropKind::kNotSelected;
  if (!source) {
    if (rules_.mode == MergeMode::kOnly) {
      std::string withPhysical = std::string(address) + "/" + std::to_string(packet.physical);
      if (RoleOf(rules_, {address, withPhysical}) != SourceRole::kPrimary) return DropKind::kNotSelected;
    }
    if (sources_.size() >= kArtnetMergeSources) return DropKind::kSourceLimit;
    sources_.emplace_back();
    source = &sources_.back();
    source->info.address = std::string(address);
    source->info.physical = packet.physical;
    source->info.firstSeen = now;
    AssignRole(*source);
    events_.Add({SourceEvent::Kind::kJoined, std::string(), source->info.address, now});
    // The second source starts a merge, in which ArtSync no longer holds
    // data: whatever the first one held goes out now.
    if (merging()) {
      for (Source& other : sources_) ApplyHeld(other);
    }
  }
  if (OutOfSequence(source->lastSequence, packet.sequence)) {
    ++source->info.sequenceErrors;
    return DropKind::kOutOfSequence;
  }
  if (packet.sequence != 0) source->lastSequence = packet.sequence;
  source->info.lastSeen = now;
  source->info.lost = false;
  ++source->info.packets;
  if (cancelMerge_) {
    TakeOnly(*source, now);
    source = &sources_.front();
  }
  uint16_t length = packet.length > kSlotCount ? static_cast<uint16_t>(kSlotCount) : packet.length;
  if (Synchronous(address, now)) {
    std::memcpy(source->heldLevels.data(), packet.data, length);
    source->heldCount = length;
    source->info.held = true;
    return std::nullopt;
  }
  StoreLevels(*source, packet.data, length);
  Reselect(now);
  return std::nullopt;
}

void ArtnetPort::ApplyHeld(Source& source) {
  if (!source.info.held) return;
  StoreLevels(source, source.heldLevels.data(), source.heldCount);
}

void ArtnetPort::OnSync(std::string_view address, TimePoint now) {
  syncSender_ = std::string(address);
  lastSync_ = now;
  if (merging()) return;
  for (Source& source : sources_) {
    if (source.info.address == address) ApplyHeld(source);
  }
  Reselect(now);
}

void ArtnetPort::Expire(TimePoint now) {
  for (Source& source : sources_) {
    if (!source.info.lost && now - source.info.lastSeen >= kArtnetSourceTimeout) {
      source.info.lost = true;
      lossBatch_.Lost(now);
    }
  }
  if (lossBatch_.Due(now)) {
    lossBatch_.Close();
    for (size_t index = sources_.size(); index-- > 0;) {
      if (!sources_[index].info.lost) continue;
      events_.Add({SourceEvent::Kind::kTimedOut, std::string(), sources_[index].info.address, now});
      sources_.erase(sources_.begin() + static_cast<std::ptrdiff_t>(index));
      ++generation_;
    }
  }
  for (size_t index = excluded_.size(); index-- > 0;) {
    if (now - excluded_[index].lastSeen >= kArtnetSourceTimeout) {
      excluded_.erase(excluded_.begin() + static_cast<std::ptrdiff_t>(index));
    }
  }
  Reselect(now);
  // ArtSync has stopped: back to output on arrival, held data first.
  if (!syncSender_.empty() && now - lastSync_ >= kArtnetSyncTimeout) {
    syncSender_.clear();
    for (Source& source : sources_) ApplyHeld(source);
  }
}

size_t ArtnetPort::Merge(uint8_t levels[kSlotCount], int16_t owner[kSlotCount]) const {
  std::vector<MergeSource> inputs;
  inputs.reserve(sources_.size());
  for (const Source& source : sources_) {
    MergeSource input;
    input.eligible = rules_.mode != MergeMode::kBackup || backup_.Drives(source.info.role);
    input.levels = &source.levels;
    inputs.push_back(input);
  }
  return MergeSlots(inputs, rules_.mode == MergeMode::kLtp, levels, MergeWinners{owner, nullptr});
}

std::vector<ArtnetSourceInfo> ArtnetPort::Sources() const {
  std::vector<ArtnetSourceInfo> infos;
  infos.reserve(sources_.size());
  for (const Source& source : sources_) infos.push_back(source.info);
  return infos;
}

}  // namespace ombrix::protocols
