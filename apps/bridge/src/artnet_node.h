// Art-Net in and out: ArtDmx to the sources and merge of each mapped
// port-address and on to the interfaces; ArtPoll answered with replies that
// describe every mapped port; ArtSync passed to the ports; and interface
// input sent as ArtDmx to every controller that polled in the last 10 s, to
// every node whose poll replies list that port-address as an output (found
// by polling every 2.7 s), and to the configured targets.
//
// Bridge thread only.
#ifndef OMBRIX_BRIDGE_ARTNET_NODE_H
#define OMBRIX_BRIDGE_ARTNET_NODE_H

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "allow_list.h"
#include "artnet_subscribers.h"
#include "node_state.h"
#include "desk_choice.h"
#include "output_universe.h"
#include "protocols/artnet_port.h"
#include "udp_socket.h"

namespace ombrix_bridge {

constexpr std::chrono::seconds kPollerLifetime{10};
// Controllers kept at once: input goes to each, so forged polls from many
// addresses must not multiply the traffic without bound. The oldest goes.
constexpr size_t kPollerLimit = 64;
constexpr std::chrono::seconds kNewPollerLogInterval{60};

struct SourceView;  // http/source_view.h

class ArtnetNode {
 public:
  using Log = std::function<void(const std::string&)>;
  ArtnetNode(UdpSocket* socket, const AllowList* allow, std::vector<Endpoint> targets, int port, asio::ip::address bind,
             Log log)
      : socket_(socket), allow_(allow), targets_(std::move(targets)), port_(port), bind_(bind), log_(std::move(log)) {}

  void AddOutput(OutputUniverse* output, const ombrix::protocols::MergeRules& rules);
  // A port-address fed by the input of port (for the poll replies).
  void AddInput(uint16_t portAddress, InterfacePort* port);
  // What the poll replies say of the node beyond its ports: the outputs'
  // fail-safe (from the loss policy: a fade ends at zero) and the MAC
  // address of the interface it is bound to.
  void Describe(LossPolicy loss, const std::array<uint8_t, 6>& mac) {
    loss_ = loss;
    mac_ = mac;
  }

  // Remote configuration by ArtAddress (artnet_address.cpp): accepted only
  // from senders manage allows (nobody when it is empty), every change
  // applied, logged with its sender, noted in state and kept by save().
  void Manage(std::vector<std::string> manage, NodeState* state, std::function<void()> save);
  // The names the poll replies give (empty: the default ones).
  void Name(const std::string& shortName, const std::string& longName);
  // Re-patches an output port or an input (from the state file at start,
  // or by ArtAddress). False, with a sentence in error, when the new
  // port-address is taken or the old one is not the node's.
  bool RepatchOutput(uint16_t from, uint16_t to, std::string* error);
  bool RepatchInput(uint16_t from, uint16_t to, std::string* error);
  // Called when an input moves, for the streams that send it.
  void OnInputRepatched(std::function<void(uint16_t from, uint16_t to)> handler) {
    inputRepatched_ = std::move(handler);
  }
  // The merge rules of an output port (by its current port-address).
  void SetMergeRules(uint16_t portAddress, const ombrix::protocols::MergeRules& rules, TimePoint now);
  // The fail-safe the poll replies state.
  void SetLoss(LossPolicy loss) { loss_ = loss; }
  bool identifying() const { return identify_; }
  const std::string& lastRemoteChange() const { return lastRemoteChange_; }

  // Art-Net 4 subscriptions (artnet_subscribers.h): polls go to the
  // targets and, where it is given, the bound subnet's directed broadcast;
  // with dmxBroadcast the input's ArtDmx goes to that broadcast as well.
  void Subscribe(const asio::ip::address_v4& broadcast, bool dmxBroadcast) {
    broadcast_ = broadcast;
    dmxBroadcast_ = dmxBroadcast && !broadcast.is_unspecified();
  }
  const ArtnetSubscribers& subscribers() const { return subscribers_; }

  void OnDatagram(const uint8_t* data, size_t size, const Endpoint& sender, TimePoint now);
  void SendLevels(uint16_t portAddress, const std::array<uint8_t, 512>& levels, TimePoint now);
  void Tick(TimePoint now);

  const ombrix::protocols::DropCounters& drops() const { return drops_; }
  size_t controllers() const { return pollers_.size(); }
  // Sources and slot owners of every output port, for the status page.
  void DescribeSources(TimePoint now, std::vector<SourceView>* views) const;

 private:
  struct Output {
    ombrix::protocols::ArtnetPort sources;
    OutputUniverse* output;
    uint64_t merged = 0;
    DeskChoice desk;
  };
  void OnDmx(const ombrix::protocols::ArtDmx& packet, const std::string& address, TimePoint now);
  void OnAddress(const ombrix::protocols::ArtAddress& packet, const Endpoint& sender, TimePoint now);
  // The port-addresses of one reply page (bind index): what ArtAddress's
  // port indices 0-3 name; 0 where the page has no such port.
  struct Page {
    std::array<uint16_t, 4> outputs{}, inputs{};
    std::array<bool, 4> output{}, input{};
  };
  bool FindPage(uint8_t bindIndex, Page* page) const;
  void Repatch(const ombrix::protocols::ArtAddress& packet, const Page& page, const std::string& who);
  void Command(uint8_t command, const Page& page, const std::string& who, TimePoint now);
  void Remote(const std::string& who, const std::string& what);
  void Reply(const ombrix::protocols::ArtPoll& poll, const Endpoint& poller);
  void OnPoll(const ombrix::protocols::ArtPoll& poll, const Endpoint& sender, TimePoint now);
  void PollForSubscribers(TimePoint now);
  std::vector<ombrix::protocols::ArtnetNodePort> DescribePorts() const;
  // Sends a reply to the pollers that asked for one on every change.
  void ReplyOnChange();
  static std::string PortState(const std::vector<ombrix::protocols::ArtnetNodePort>& ports);
  void Merge(Output& output, TimePoint now);
  void LogEvents(Output& output);

  UdpSocket* socket_;
  const AllowList* allow_;
  std::vector<Endpoint> targets_;
  int port_;
  asio::ip::address bind_;
  Log log_;
  std::map<uint16_t, std::unique_ptr<Output>> outputs_;
  std::map<uint16_t, InterfacePort*> inputs_;
  std::map<uint16_t, uint8_t> sequences_;  // per input port-address, 1-255
  std::map<uint16_t, uint8_t> physical_;   // per input port-address: the node's input port number
  struct Poller {
    TimePoint polled{};
    bool replyOnChange = false;
    ombrix::protocols::ArtPoll poll;
    Endpoint from;
  };
  std::map<asio::ip::address, Poller> pollers_;  // controllers, at most kPollerLimit
  size_t newPollers_ = 0;                        // since the last log line about them
  TimePoint newPollerLogged_{};
  std::string lastPortState_;  // the ports as last described, to notice a change
  LossPolicy loss_ = LossPolicy::kHold;
  ArtnetSubscribers subscribers_;
  asio::ip::address_v4 broadcast_;  // unspecified: none
  bool dmxBroadcast_ = false;
  TimePoint lastPoll_{};
  // Remote configuration (bridge thread, as everything here).
  AllowList manage_;
  bool managed_ = false;  // some sender may manage the node
  NodeState* state_ = nullptr;
  std::function<void()> save_;
  std::function<void(uint16_t, uint16_t)> inputRepatched_;
  std::string shortName_ = "ombrix bridge";
  std::string longName_;  // empty: "ombrix bridge on HOST"
  bool identify_ = false;
  std::string lastRemoteChange_;
  TimePoint refusedLogged_{};
  size_t refused_ = 0;  // ArtAddress refused since the last log line about it
  std::array<uint8_t, 6> mac_{};
  uint32_t replies_ = 0;  // polls answered, for the node report
  ombrix::protocols::DropCounters drops_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_ARTNET_NODE_H
