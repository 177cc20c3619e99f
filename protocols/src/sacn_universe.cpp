// sACN sources of one universe: sequence, time-outs, synchronisation, merge.
#include "protocols/sacn_universe.h"

#include <algorithm>
#include <cstring>

#include "protocols/printable.h"
#include "protocols/slot_merge.h"

namespace ombrix::protocols {
namespace {

// E1.31's out-of-order window: a packet at most 19 behind the last accepted
// one is stale; further behind, the source has restarted its count.
bool OutOfSequence(uint8_t last, uint8_t received) {
  int8_t difference = static_cast<int8_t>(static_cast<uint8_t>(received - last));
  return difference <= 0 && difference > -20;
}

}  // namespace

SacnUniverse::SacnUniverse(uint16_t universe, size_t sourceLimit, std::chrono::milliseconds prioritiesWait)
    : universe_(universe), sourceLimit_(sourceLimit), prioritiesWait_(prioritiesWait) {}

void SacnUniverse::SetRules(const MergeRules& rules, TimePoint now) {
  rules_ = rules;
  for (size_t index = sources_.size(); index-- > 0;) {
    AssignRole(sources_[index]);
    if (rules_.mode == MergeMode::kOnly && sources_[index].info.role != SourceRole::kPrimary) {
      Remove(index, SourceEvent::Kind::kDeselected, now);
    }
  }
  ++generation_;
  Reselect(now);
}

void SacnUniverse::AssignRole(Source& source) {
  source.info.role = RoleOf(rules_, {source.cidText, source.info.name, source.info.address});
}

bool SacnUniverse::Ready(const Source& source) {
  return !source.info.preview && source.info.slotCount > 0 && !source.info.awaitingPriorities;
}

void SacnUniverse::Reselect(TimePoint now) {
  if (rules_.mode != MergeMode::kBackup) return;
  bool primary = false, backup = false;
  for (const Source& source : sources_) {
    // A desk still waiting for its per-slot priorities is there: the
    // backup must not be shown for the moment of that wait.
    if (source.info.preview || source.info.slotCount == 0) continue;
    primary = primary || source.info.role == SourceRole::kPrimary;
    backup = backup || source.info.role == SourceRole::kBackup;
  }
  if (backup_.Update(primary, backup, rules_.takeback, now)) ++generation_;
}

void SacnUniverse::StoreLevels(Source& source, const uint8_t* slots, uint16_t count) {
  source.levels.Store(slots, count, &changeClock_);
  source.info.slotCount = count;
  ++generation_;
}

SacnUniverse::Source* SacnUniverse::Find(const Cid& cid) {
  for (Source& source : sources_) {
    if (source.info.cid == cid) return &source;
  }
  return nullptr;
}

SacnUniverse::Source* SacnUniverse::Add(const SacnData& packet, std::string_view address, TimePoint now) {
  sources_.emplace_back();
  Source& source = sources_.back();
  source.info.cid = packet.cid;
  source.rawName = std::string(packet.sourceName);
  source.info.name = PrintableText(packet.sourceName);
  source.info.address = std::string(address);
  source.info.firstSeen = now;
  source.cidText = CidText(packet.cid);
  source.info.awaitingPriorities = prioritiesWait_.count() > 0;
  AssignRole(source);
  events_.Add({SourceEvent::Kind::kJoined, source.info.name, source.info.address, now});
  return &source;
}

void SacnUniverse::Remove(size_t index, SourceEvent::Kind why, TimePoint now) {
  const SacnSourceInfo& info = sources_[index].info;
  events_.Add({why, info.name, info.address, now});
  sources_.erase(sources_.begin() + static_cast<std::ptrdiff_t>(index));
  ++generation_;
}

std::optional<DropKind> SacnUniverse::OnData(const SacnData& packet, std::string_view address, TimePoint now) {
  if (packet.universe != universe_) return DropKind::kNotConfigured;
  Source* source = Find(packet.cid);
  if (!source) {
    // A source that ends a stream we never saw leaves nothing behind.
    if (packet.streamTerminated) return std::nullopt;
    if (rules_.mode == MergeMode::kOnly &&
        RoleOf(rules_, {CidText(packet.cid), packet.sourceName, address}) != SourceRole::kPrimary) {
      return DropKind::kNotSelected;
    }
    if (sources_.size() >= sourceLimit_) return DropKind::kSourceLimit;
    source = Add(packet, address, now);
  } else if (OutOfSequence(source->lastSequence, packet.sequence)) {
    ++source->info.sequenceErrors;
    return DropKind::kOutOfSequence;
  }
  // Heard again before its loss batch left: it was never gone.
  source->info.lost = false;

  source->lastSequence = packet.sequence;
  source->info.lastSeen = now;
  ++source->info.packets;
  if (packet.sourceName != source->rawName || address != source->info.address) {
    source->rawName = std::string(packet.sourceName);
    source->info.name = PrintableText(packet.sourceName);
    source->info.address = std::string(address);
    AssignRole(*source);
  }

  if (packet.streamTerminated) {
    Remove(static_cast<size_t>(source - sources_.data()), SourceEvent::Kind::kTerminated, now);
    Reselect(now);
    return std::nullopt;
  }
  if (packet.preview != source->info.preview || packet.priority != source->info.priority) {
    ++generation_;
  }
  source->info.preview = packet.preview;
  source->info.priority = packet.priority;
  if (packet.preview) return DropKind::kPreview;
  std::optional<DropKind> drop = TakeLevels(*source, packet, now);
  Reselect(now);
  return drop;
}

std::optional<DropKind> SacnUniverse::TakeLevels(Source& source, const SacnData& packet, TimePoint now) {
  if (packet.startCode == kStartCodePerSlotPriority) {
    std::memcpy(source.slotPriorities.data(), packet.slots, packet.slotCount);
    source.slotPriorityCount = packet.slotCount;
    source.slotPrioritiesSeen = now;
    source.info.perSlotPriority = true;
    source.info.awaitingPriorities = false;
    ++generation_;
    return std::nullopt;
  }
  if (packet.startCode != kStartCodeLevels) return DropKind::kOtherStartCode;

  if (packet.syncAddress == 0) {
    // Unsynchronised data replaces anything held.
    source.holding = false;
    source.info.held = false;
    source.syncState = SyncState::kNone;
    source.info.syncAddress = 0;
    StoreLevels(source, packet.slots, packet.slotCount);
    return std::nullopt;
  }

  if (packet.syncAddress != source.info.syncAddress || source.syncState == SyncState::kNone) {
    source.syncState = SyncState::kAwaiting;
    source.syncSince = now;
  }
  source.info.syncAddress = packet.syncAddress;
  source.forceSync = packet.forceSync;
  std::memcpy(source.heldLevels.data(), packet.slots, packet.slotCount);
  source.heldCount = packet.slotCount;
  source.holding = true;
  source.info.held = true;
  // Sync packets never came: the source was never synchronised, so its data
  // goes out as it arrives. Sync packets stopped after they had come: only
  // force sync lets new data out; without it the look stays until sync
  // resumes.
  if (source.syncState == SyncState::kFallback || (source.syncState == SyncState::kLost && source.forceSync)) {
    ApplyHeld(source);
  }
  return std::nullopt;
}

void SacnUniverse::ApplyHeld(Source& source) {
  if (!source.holding) return;
  StoreLevels(source, source.heldLevels.data(), source.heldCount);
  source.holding = false;
  source.info.held = false;
}

void SacnUniverse::OnSync(const SacnSync& packet, TimePoint now) {
  for (Source& source : sources_) {
    if (source.info.cid != packet.cid || source.info.syncAddress != packet.syncAddress) continue;
    if (source.syncState == SyncState::kNone) continue;
    source.syncState = SyncState::kLocked;
    source.syncSince = now;
    ApplyHeld(source);
  }
  Reselect(now);
}

void SacnUniverse::UpdateSyncTimeouts(Source& source, TimePoint now) {
  if (source.syncState != SyncState::kAwaiting && source.syncState != SyncState::kLocked) return;
  if (now - source.syncSince < kSacnSourceTimeout) return;
  bool wasLocked = source.syncState == SyncState::kLocked;
  source.syncState = wasLocked ? SyncState::kLost : SyncState::kFallback;
  events_.Add({SourceEvent::Kind::kSyncLost, source.info.name, source.info.address, now});
  if (!wasLocked || source.forceSync) ApplyHeld(source);
}

void SacnUniverse::Expire(TimePoint now) {
  for (Source& source : sources_) {
    if (!source.info.lost && now - source.info.lastSeen >= kSacnSourceTimeout) {
      source.info.lost = true;
      lossBatch_.Lost(now);
    }
    if (source.info.awaitingPriorities && now - source.info.firstSeen >= prioritiesWait_) {
      source.info.awaitingPriorities = false;
      ++generation_;
    }
    if (source.slotPriorityCount > 0 && now - source.slotPrioritiesSeen >= kSacnSourceTimeout) {
      source.slotPriorityCount = 0;
      source.info.perSlotPriority = false;
      ++generation_;
    }
    UpdateSyncTimeouts(source, now);
  }
  if (lossBatch_.Due(now)) RemoveLostBatch(now);
  Reselect(now);
}

void SacnUniverse::RemoveLostBatch(TimePoint now) {
  lossBatch_.Close();
  for (size_t index = sources_.size(); index-- > 0;) {
    if (sources_[index].info.lost) Remove(index, SourceEvent::Kind::kTimedOut, now);
  }
}

size_t SacnUniverse::Merge(uint8_t levels[kSlotCount], int16_t owner[kSlotCount], uint8_t priority[kSlotCount]) const {
  std::vector<MergeSource> inputs;
  inputs.reserve(sources_.size());
  for (const Source& source : sources_) {
    MergeSource input;
    input.eligible = Ready(source) && (rules_.mode != MergeMode::kBackup || backup_.Drives(source.info.role));
    input.levels = &source.levels;
    input.priority = source.info.priority;
    if (source.slotPriorityCount > 0) {
      input.slotPriorities = source.slotPriorities.data();
      input.slotPriorityCount = source.slotPriorityCount;
    }
    inputs.push_back(input);
  }
  return MergeSlots(inputs, rules_.mode == MergeMode::kLtp, levels, MergeWinners{owner, priority});
}

std::optional<TimePoint> SacnUniverse::PrioritiesWaitEnd() const {
  std::optional<TimePoint> end;
  for (const Source& source : sources_) {
    if (!source.info.awaitingPriorities) continue;
    TimePoint sourceEnd = source.info.firstSeen + prioritiesWait_;
    if (!end || sourceEnd > *end) end = sourceEnd;
  }
  return end;
}

std::vector<SacnSourceInfo> SacnUniverse::Sources() const {
  std::vector<SacnSourceInfo> infos;
  infos.reserve(sources_.size());
  for (const Source& source : sources_) infos.push_back(source.info);
  return infos;
}

}  // namespace ombrix::protocols
