#include "sacn_sender.h"

#include <asio/ip/address_v4.hpp>

#include "protocols/sacn_packet.h"

namespace ombrix_bridge {

using namespace ombrix::protocols;

Cid SacnSender::AddUniverse(uint16_t universe, const ombrix_tool::Serial& serial,
                            const std::optional<SlotPriorities>& priorities) {
  Stream& stream = streams_[universe];
  stream.cid = MakeCid(host_, serial, universe);
  stream.name = SourceName(host_, serial);
  stream.priorities = priorities;
  return stream.cid;
}

void SacnSender::SendLevels(uint16_t universe, const std::array<uint8_t, 512>& levels, TimePoint now) {
  auto found = streams_.find(universe);
  if (found == streams_.end()) return;
  Stream& stream = found->second;
  if (!stream.sent && stream.priorities) SendPriorities(universe, stream, now);
  stream.levels = levels;
  SendData(universe, stream, false);
}

void SacnSender::KeepPrioritiesAlive(TimePoint now) {
  for (auto& [universe, stream] : streams_) {
    if (stream.sent && stream.priorities && now - stream.prioritiesSent >= kKeepAliveInterval) {
      SendPriorities(universe, stream, now);
    }
  }
}

namespace {

SacnData Packet(const Cid& cid, const std::string& name, int priority, uint8_t sequence, uint16_t universe) {
  SacnData packet;
  packet.cid = cid;
  packet.sourceName = name;
  packet.priority = static_cast<uint8_t>(priority);
  packet.sequence = sequence;
  packet.universe = universe;
  packet.slotCount = 512;
  return packet;
}

}  // namespace

void SacnSender::SendPriorities(uint16_t universe, Stream& stream, TimePoint now) {
  SacnData packet = Packet(stream.cid, stream.name, priority_, stream.sequence++, universe);
  packet.startCode = kStartCodePerSlotPriority;
  packet.slots = stream.priorities->data();
  uint8_t out[kSacnDataMaxSize];
  size_t size = BuildSacnData(packet, out, sizeof(out));
  if (size == 0) return;
  SendTo(universe, out, size);
  stream.prioritiesSent = now;
}

void SacnSender::SendData(uint16_t universe, Stream& stream, bool terminated) {
  SacnData packet = Packet(stream.cid, stream.name, priority_, stream.sequence++, universe);
  packet.streamTerminated = terminated;
  packet.slots = stream.levels.data();
  uint8_t out[kSacnDataMaxSize];
  size_t size = BuildSacnData(packet, out, sizeof(out));
  if (size == 0) return;
  SendTo(universe, out, size);
  stream.sent = true;
}

void SacnSender::SendTo(uint16_t universe, const uint8_t* data, size_t size) {
  if (multicast_) {
    socket_->Send(data, size,
                  Endpoint(asio::ip::make_address_v4(SacnMulticastGroup(universe)), static_cast<uint16_t>(port_)));
  }
  for (const Endpoint& target : targets_) socket_->Send(data, size, target);
}

void SacnSender::SendDiscovery() {
  // Each universe is sent under a CID of its own, and a discovery list
  // speaks for one CID: every stream announces its own universe.
  // Only streams that are live: one terminated (its interface gone, or the
  // bridge stopping) is not announced until it sends again.
  for (const auto& [universe, stream] : streams_) {
    if (!stream.sent) continue;
    SacnDiscovery packet;
    packet.cid = stream.cid;
    packet.sourceName = stream.name;
    packet.universes = {universe};
    uint8_t out[kSacnDiscoveryMinSize + 2];
    size_t size = BuildSacnDiscovery(packet, out, sizeof(out));
    if (size != 0) SendTo(kSacnDiscoveryUniverse, out, size);
  }
}

void SacnSender::Terminate() {
  for (auto& entry : streams_) Terminate(entry.first);
}

void SacnSender::Terminate(uint16_t universe) {
  auto found = streams_.find(universe);
  if (found == streams_.end() || !found->second.sent) return;
  for (int i = 0; i < 3; ++i) SendData(universe, found->second, true);
  found->second.sent = false;
}

}  // namespace ombrix_bridge
