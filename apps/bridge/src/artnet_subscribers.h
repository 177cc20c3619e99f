// Art-Net 4 subscriptions: the nodes whose poll replies list, as an
// output, a port-address this node sends its input on. The bridge polls
// every few seconds; a node is kept while its replies keep listing the
// port-address and dropped once they have not for kSubscriberLifetime, and
// its ArtDmx goes to each such node by unicast rather than to everyone.
//
// Bridge thread only.
#ifndef OMBRIX_BRIDGE_ARTNET_SUBSCRIBERS_H
#define OMBRIX_BRIDGE_ARTNET_SUBSCRIBERS_H

#include <asio/ip/address.hpp>
#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "protocols/artnet_packet.h"
#include "protocols/tracking.h"

namespace ombrix_bridge {

using ombrix::protocols::TimePoint;

// How often the bridge polls for them: inside Art-Net's 2.5-3 s.
constexpr std::chrono::milliseconds kSubscriptionPollInterval{2700};
// Three polls unanswered and a node is gone.
constexpr std::chrono::seconds kSubscriberLifetime{10};
// Nodes kept at once; a forged flood of replies must not multiply the
// traffic without bound. The one heard from least recently goes.
constexpr size_t kSubscriberLimit = 64;

struct Subscriber {
  asio::ip::address address;
  std::string shortName;
  std::map<uint16_t, TimePoint> outputs;  // port-addresses this node sends, last listed then
};

class ArtnetSubscribers {
 public:
  // A poll reply from address. sent: the port-addresses this node sends.
  // The reply's outputs among them (re)subscribe the node.
  void OnReply(const ombrix::protocols::ArtPollReply& reply, const asio::ip::address& address,
               const std::set<uint16_t>& sent, TimePoint now);
  // Forgets outputs not listed for kSubscriberLifetime, and nodes left with none.
  void Expire(TimePoint now);
  // Where ArtDmx for portAddress goes.
  std::vector<asio::ip::address> For(uint16_t portAddress) const;
  const std::map<asio::ip::address, Subscriber>& nodes() const { return nodes_; }

 private:
  std::map<asio::ip::address, Subscriber> nodes_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_ARTNET_SUBSCRIBERS_H
