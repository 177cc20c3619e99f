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

SacnUniverse::SacnUniverse(uint16_t universe, size_t sourceLimit) : universe_(universe), sourceLimit_(sourceLimit) {}

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
    if (sources_.size() >= sourceLimit_) return DropKind::kSourceLimit;
    source = Add(packet, address, now);
  } else if (OutOfSequence(source->lastSequence, packet.sequence)) {
    ++source->info.sequenceErrors;
    return DropKind::kOutOfSequence;
  }

  source->lastSequence = packet.sequence;
  source->info.lastSeen = now;
  ++source->info.packets;
  if (packet.sourceName != source->rawName) {
    source->rawName = std::string(packet.sourceName);
    source->info.name = PrintableText(packet.sourceName);
  }
  if (address != source->info.address) source->info.address = std::string(address);

  if (packet.streamTerminated) {
    Remove(static_cast<size_t>(source - sources_.data()), SourceEvent::Kind::kTerminated, now);
    return std::nullopt;
  }
  if (packet.preview != source->info.preview || packet.priority != source->info.priority) {
    ++generation_;
  }
  source->info.preview = packet.preview;
  source->info.priority = packet.priority;
  if (packet.preview) return DropKind::kPreview;
  return TakeLevels(*source, packet, now);
}

std::optional<DropKind> SacnUniverse::TakeLevels(Source& source, const SacnData& packet, TimePoint now) {
  if (packet.startCode == kStartCodePerSlotPriority) {
    std::memcpy(source.slotPriorities.data(), packet.slots, packet.slotCount);
    source.slotPriorityCount = packet.slotCount;
    source.slotPrioritiesSeen = now;
    source.info.perSlotPriority = true;
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
    std::memcpy(source.levels.data(), packet.slots, packet.slotCount);
    source.info.slotCount = packet.slotCount;
    ++generation_;
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
  std::memcpy(source.levels.data(), source.heldLevels.data(), source.heldCount);
  source.info.slotCount = source.heldCount;
  source.holding = false;
  source.info.held = false;
  ++generation_;
}

void SacnUniverse::OnSync(const SacnSync& packet, TimePoint now) {
  for (Source& source : sources_) {
    if (source.info.cid != packet.cid || source.info.syncAddress != packet.syncAddress) continue;
    if (source.syncState == SyncState::kNone) continue;
    source.syncState = SyncState::kLocked;
    source.syncSince = now;
    ApplyHeld(source);
  }
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
  for (size_t index = sources_.size(); index-- > 0;) {
    Source& source = sources_[index];
    if (now - source.info.lastSeen >= kSacnSourceTimeout) {
      Remove(index, SourceEvent::Kind::kTimedOut, now);
      continue;
    }
    if (source.slotPriorityCount > 0 && now - source.slotPrioritiesSeen >= kSacnSourceTimeout) {
      source.slotPriorityCount = 0;
      source.info.perSlotPriority = false;
      ++generation_;
    }
    UpdateSyncTimeouts(source, now);
  }
}

size_t SacnUniverse::Merge(uint8_t levels[kSlotCount], int16_t owner[kSlotCount]) const {
  std::vector<MergeSource> inputs;
  inputs.reserve(sources_.size());
  for (const Source& source : sources_) {
    MergeSource input;
    input.eligible = !source.info.preview;
    input.levels = source.levels.data();
    input.slotCount = source.info.slotCount;
    input.priority = source.info.priority;
    if (source.slotPriorityCount > 0) {
      input.slotPriorities = source.slotPriorities.data();
      input.slotPriorityCount = source.slotPriorityCount;
    }
    inputs.push_back(input);
  }
  return MergeSlots(inputs, levels, owner);
}

std::vector<SacnSourceInfo> SacnUniverse::Sources() const {
  std::vector<SacnSourceInfo> infos;
  infos.reserve(sources_.size());
  for (const Source& source : sources_) infos.push_back(source.info);
  return infos;
}

}  // namespace ombrix::protocols
