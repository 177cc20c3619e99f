#include "sacn_receiver.h"

#include <asio/ip/address_v4.hpp>

namespace ombrix_bridge {

using namespace ombrix::protocols;

void SacnReceiver::AddUniverse(OutputUniverse* output) {
  uint16_t number = output->universe().number;
  universes_.emplace(number, std::unique_ptr<Universe>(new Universe{SacnUniverse(number), output}));
  Join(number);
}

void SacnReceiver::Join(uint16_t universe) {
  if (!join_ || !joined_.insert(universe).second) return;
  std::array<uint8_t, 4> group = SacnMulticastGroup(universe);
  std::string error;
  if (!socket_->Join(asio::ip::make_address_v4(group), &error)) {
    log_("sacn:" + std::to_string(universe) + ": could not join its multicast group (" + error +
         "); unicast still arrives");
  }
}

void SacnReceiver::OnDatagram(const uint8_t* data, size_t size, const Endpoint& sender, TimePoint now) {
  if (!allow_->Allows(sender.address())) {
    drops_.Count(DropKind::kNotAllowed);
    return;
  }
  SacnPacket packet = ParseSacn(data, size);
  if (const DropKind* drop = std::get_if<DropKind>(&packet)) {
    drops_.Count(*drop);
  } else if (const SacnData* dmx = std::get_if<SacnData>(&packet)) {
    if (own_.count(dmx->cid) != 0) return;
    auto found = universes_.find(dmx->universe);
    if (found == universes_.end()) {
      drops_.Count(DropKind::kNotConfigured);
      return;
    }
    Universe& universe = *found->second;
    ++universe.output->packets;
    std::optional<DropKind> drop = universe.sources.OnData(*dmx, sender.address().to_string(), now);
    if (drop) universe.output->drops.Count(*drop);
    Merge(universe, now);
  } else if (const SacnSync* sync = std::get_if<SacnSync>(&packet)) {
    for (auto& entry : universes_) {
      entry.second->sources.OnSync(*sync, now);
      Merge(*entry.second, now);
    }
  }
  // Discovery packets from other sources need no answer.
}

void SacnReceiver::Merge(Universe& universe, TimePoint now) {
  LogEvents(universe);
  if (universe.sources.generation() == universe.merged) return;
  universe.merged = universe.sources.generation();
  uint8_t levels[kSlotCount];
  size_t sources = universe.sources.Merge(levels, nullptr);
  universe.output->sources = universe.sources.SourceCount();
  std::string event = universe.output->Apply(levels, sources, now);
  if (!event.empty()) log_(event);
}

void SacnReceiver::Tick(TimePoint now) {
  for (auto& entry : universes_) {
    Universe& universe = *entry.second;
    universe.sources.Expire(now);
    Merge(universe, now);
    universe.output->Tick(now);
  }
  // Synchronised sources send their sync packets to another universe's
  // group; looking once a second is soon enough, as held data falls back
  // to being applied at once after 2.5 s without sync.
  if (now - lastSyncCheck_ < std::chrono::seconds(1)) return;
  lastSyncCheck_ = now;
  for (auto& entry : universes_) {
    for (const SacnSourceInfo& source : entry.second->sources.Sources()) {
      if (source.syncAddress != 0) Join(source.syncAddress);
    }
  }
}

void SacnReceiver::LogEvents(Universe& universe) {
  for (const SourceEvent& event : universe.sources.TakeEvents()) {
    log_("sacn:" + std::to_string(universe.sources.universe()) + ": source \"" + event.name + "\" (" + event.address +
         ") " + SourceEventKindName(event.kind));
  }
}

}  // namespace ombrix_bridge
