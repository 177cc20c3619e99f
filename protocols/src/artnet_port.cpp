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
  if (!source) {
    if (sources_.size() >= kArtnetMergeSources) return DropKind::kSourceLimit;
    sources_.emplace_back();
    source = &sources_.back();
    source->info.address = std::string(address);
    source->info.physical = packet.physical;
    source->info.firstSeen = now;
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
  ++source->info.packets;
  uint16_t length = packet.length > kSlotCount ? static_cast<uint16_t>(kSlotCount) : packet.length;
  if (Synchronous(address, now)) {
    std::memcpy(source->heldLevels.data(), packet.data, length);
    source->heldCount = length;
    source->info.held = true;
    return std::nullopt;
  }
  std::memcpy(source->levels.data(), packet.data, length);
  source->info.slotCount = length;
  source->info.held = false;
  ++generation_;
  return std::nullopt;
}

void ArtnetPort::ApplyHeld(Source& source) {
  if (!source.info.held) return;
  std::memcpy(source.levels.data(), source.heldLevels.data(), source.heldCount);
  source.info.slotCount = source.heldCount;
  source.info.held = false;
  ++generation_;
}

void ArtnetPort::OnSync(std::string_view address, TimePoint now) {
  syncSender_ = std::string(address);
  lastSync_ = now;
  if (merging()) return;
  for (Source& source : sources_) {
    if (source.info.address == address) ApplyHeld(source);
  }
}

void ArtnetPort::Expire(TimePoint now) {
  for (size_t index = sources_.size(); index-- > 0;) {
    if (now - sources_[index].info.lastSeen >= kArtnetSourceTimeout) {
      events_.Add({SourceEvent::Kind::kTimedOut, std::string(), sources_[index].info.address, now});
      sources_.erase(sources_.begin() + static_cast<std::ptrdiff_t>(index));
      ++generation_;
    }
  }
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
    input.levels = source.levels.data();
    input.slotCount = source.info.slotCount;
    inputs.push_back(input);
  }
  return MergeSlots(inputs, levels, owner);
}

std::vector<ArtnetSourceInfo> ArtnetPort::Sources() const {
  std::vector<ArtnetSourceInfo> infos;
  infos.reserve(sources_.size());
  for (const Source& source : sources_) infos.push_back(source.info);
  return infos;
}

}  // namespace ombrix::protocols
