#include "sacn_receiver.h"

#include <asio/ip/address_v4.hpp>

namespace ombrix_bridge {

using namespace ombrix::protocols;

void SacnReceiver::AddUniverse(OutputUniverse* output, const MergeRules& rules) {
  uint16_t number = output->universe().number;
  auto added = universes_.emplace(number, std::unique_ptr<Universe>(new Universe{
                                              SacnUniverse(number, kSacnDefaultSourceLimit, prioritiesWait_), output}));
  added.first->second->sources.SetRules(rules, TimePoint{});
  Join(number, added.first->second.get());
  syncGroups_.erase(number);  // a configured universe stays joined
}

bool SacnReceiver::Join(uint16_t group, Universe* reportTo) {
  if (!join_ || joined_.count(group) != 0) return true;
  std::string error;
  if (socket_->Join(asio::ip::make_address_v4(SacnMulticastGroup(group)), &error)) {
    joined_.insert(group);
    return true;
  }
  std::string text = group == reportTo->sources.universe()
                         ? "multicast group not joined (" + error + ")"
                         : "sync group sacn:" + std::to_string(group) + " not joined (" + error + ")";
  // Once per universe and reason: a source that keeps naming a sync group
  // the kernel refuses must not fill the log.
  if (reportTo->output->joinError != text) {
    reportTo->output->joinError = text;
    log_("sacn:" + std::to_string(reportTo->sources.universe()) + ": " + text + "; unicast still arrives");
  }
  return false;
}

void SacnReceiver::LeaveUnusedSyncGroups() {
  std::set<uint16_t> used;
  for (auto& entry : universes_) {
    for (const SacnSourceInfo& source : entry.second->sources.Sources()) used.insert(source.syncAddress);
  }
  for (auto it = syncGroups_.begin(); it != syncGroups_.end();) {
    if (used.count(*it) != 0) {
      ++it;
      continue;
    }
    socket_->Leave(asio::ip::make_address_v4(SacnMulticastGroup(*it)));
    joined_.erase(*it);
    it = syncGroups_.erase(it);
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
    // The first data packet that names a sync group has it joined at
    // once, so that the sync packet that releases this very data arrives.
    if (dmx->syncAddress != 0 && universes_.count(dmx->syncAddress) == 0 && joined_.count(dmx->syncAddress) == 0) {
      if (Join(dmx->syncAddress, &universe)) syncGroups_.insert(dmx->syncAddress);
    }
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
  // Time-outs first, on every merge and not only on the timer: a packet
  // that comes just after one desk's wait for its priorities ended, but
  // before the timer has ended another's, would merge the first alone.
  universe.sources.Expire(now);
  LogEvents(universe);
  if (std::optional<TimePoint> waitEnd = universe.sources.PrioritiesWaitEnd())
    universe.output->ExtendSampling(*waitEnd, now);
  std::string desk = universe.desk.Follow(universe.sources, *universe.output, now);
  if (!desk.empty()) log_(desk);
  universe.output->sources = universe.sources.SourceCount();
  if (universe.sources.generation() == universe.merged || universe.output->Sampling(now)) return;
  universe.merged = universe.sources.generation();
  uint8_t levels[kSlotCount];
  size_t sources = universe.sources.Merge(levels, nullptr);
  std::string event = universe.output->Apply(levels, sources, now);
  if (!event.empty()) log_(event);
}

void SacnReceiver::Tick(TimePoint now) {
  for (auto& entry : universes_) {
    Universe& universe = *entry.second;
    Merge(universe, now);
    universe.output->Tick(now);
  }
  // Sources that stopped syncing (or left) free their sync group; once a
  // second is soon enough for that.
  if (now - lastSyncCheck_ < std::chrono::seconds(1)) return;
  lastSyncCheck_ = now;
  LeaveUnusedSyncGroups();
}

void SacnReceiver::LogEvents(Universe& universe) {
  for (const SourceEvent& event : universe.sources.TakeEvents()) {
    log_("sacn:" + std::to_string(universe.sources.universe()) + ": source \"" + event.name + "\" (" + event.address +
         ") " + SourceEventKindName(event.kind));
  }
}

}  // namespace ombrix_bridge
