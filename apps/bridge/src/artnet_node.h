// Art-Net in and out: ArtDmx to the sources and merge of each mapped
// port-address and on to the interfaces; ArtPoll answered with replies that
// describe every mapped port; ArtSync passed to the ports; and interface
// input sent as ArtDmx to every controller that polled in the last 10 s and
// to the configured targets.
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
  void Reply(const ombrix::protocols::ArtPoll& poll, const Endpoint& poller);
  void OnPoll(const ombrix::protocols::ArtPoll& poll, const Endpoint& sender, TimePoint now);
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
  std::array<uint8_t, 6> mac_{};
  uint32_t replies_ = 0;  // polls answered, for the node report
  ombrix::protocols::DropCounters drops_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_ARTNET_NODE_H
