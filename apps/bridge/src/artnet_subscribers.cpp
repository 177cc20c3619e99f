#include "artnet_subscribers.h"

#include <algorithm>

namespace ombrix_bridge {

using namespace ombrix::protocols;

namespace {

TimePoint LastHeard(const Subscriber& node) {
  TimePoint last{};
  for (const auto& [address, seen] : node.outputs) last = std::max(last, seen);
  return last;
}

}  // namespace

void ArtnetSubscribers::OnReply(const ArtPollReply& reply, const asio::ip::address& address,
                                const std::set<uint16_t>& sent, TimePoint now) {
  std::vector<uint16_t> wanted;
  for (size_t i = 0; i < reply.portCount && i < reply.ports.size(); ++i) {
    if ((reply.ports[i].portType & kArtPortOutput) == 0) continue;
    uint16_t portAddress = ArtnetPortAddress(reply.netSwitch, reply.subSwitch, reply.ports[i].swOut);
    if (sent.count(portAddress) != 0) wanted.push_back(portAddress);
  }
  if (wanted.empty()) return;
  auto found = nodes_.find(address);
  if (found == nodes_.end()) {
    if (nodes_.size() >= kSubscriberLimit) {
      auto oldest = nodes_.begin();
      for (auto it = nodes_.begin(); it != nodes_.end(); ++it) {
        if (LastHeard(it->second) < LastHeard(oldest->second)) oldest = it;
      }
      nodes_.erase(oldest);
    }
    found = nodes_.emplace(address, Subscriber{address, {}, {}}).first;
  }
  found->second.shortName = reply.shortName;
  for (uint16_t portAddress : wanted) found->second.outputs[portAddress] = now;
}

void ArtnetSubscribers::Expire(TimePoint now) {
  for (auto node = nodes_.begin(); node != nodes_.end();) {
    std::map<uint16_t, TimePoint>& outputs = node->second.outputs;
    for (auto output = outputs.begin(); output != outputs.end();) {
      output = now - output->second > kSubscriberLifetime ? outputs.erase(output) : std::next(output);
    }
    node = outputs.empty() ? nodes_.erase(node) : std::next(node);
  }
}

std::vector<asio::ip::address> ArtnetSubscribers::For(uint16_t portAddress) const {
  std::vector<asio::ip::address> addresses;
  for (const auto& [address, node] : nodes_) {
    if (node.outputs.count(portAddress) != 0) addresses.push_back(address);
  }
  return addresses;
}

}  // namespace ombrix_bridge
