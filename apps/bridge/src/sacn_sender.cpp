#include "sacn_sender.h"

#include <asio/ip/address_v4.hpp>

#include "protocols/sacn_packet.h"

namespace ombrix_bridge {

using namespace ombrix::protocols;

Cid SacnSender::AddUniverse(uint16_t universe, const ombrix_tool::Serial& serial) {
  Stream& stream = streams_[universe];
  stream.cid = MakeCid(host_, serial, universe);
  stream.name = SourceName(host_, serial);
  return stream.cid;
}

void SacnSender::SendLevels(uint16_t universe, const std::array<uint8_t, 512>& levels) {
  auto found = streams_.find(universe);
  if (found == streams_.end()) return;
  found->second.levels = levels;
  SendData(universe, found->second, false);
}

void SacnSender::SendData(uint16_t universe, Stream& stream, bool terminated) {
  SacnData packet;
  packet.cid = stream.cid;
  packet.sourceName = stream.name;
  packet.priority = static_cast<uint8_t>(priority_);
  packet.sequence = stream.sequence++;
  packet.streamTerminated = terminated;
  packet.universe = universe;
  packet.slots = stream.levels.data();
  packet.slotCount = 512;
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
