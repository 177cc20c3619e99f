#include "artnet_node.h"

#include <cstdio>
#include <set>

#include "sacn_identity.h"

namespace ombrix_bridge {

using namespace ombrix::protocols;

namespace {

// The address this machine uses towards the poller, for the reply's IP
// field when the bridge listens on every address.
std::array<uint8_t, 4> LocalAddressTowards(const asio::ip::address& bind, const asio::ip::address& poller,
                                           asio::io_context& io) {
  asio::ip::address local = bind;
  if (local.is_unspecified() && poller.is_v4()) {
    asio::ip::udp::socket probe(io);
    asio::error_code failure;
    probe.connect(Endpoint(poller, 9), failure);  // connecting a UDP socket sends nothing
    if (!failure) local = probe.local_endpoint(failure).address();
  }
  if (local.is_v4()) return local.to_v4().to_bytes();
  return {0, 0, 0, 0};
}

}  // namespace

void ArtnetNode::AddOutput(OutputUniverse* output) {
  uint16_t address = output->universe().number;
  outputs_.emplace(address, std::unique_ptr<Output>(new Output{ArtnetPort(address), output}));
}

void ArtnetNode::AddInput(uint16_t portAddress, InterfacePort* port) {
  inputs_[portAddress] = port;
  sequences_[portAddress] = 1;
}

void ArtnetNode::OnDatagram(const uint8_t* data, size_t size, const Endpoint& sender, TimePoint now) {
  if (!allow_->Allows(sender.address())) {
    drops_.Count(DropKind::kNotAllowed);
    return;
  }
  ArtnetPacket packet = ParseArtnet(data, size);
  if (const DropKind* drop = std::get_if<DropKind>(&packet)) {
    drops_.Count(*drop);
  } else if (const ArtDmx* dmx = std::get_if<ArtDmx>(&packet)) {
    OnDmx(*dmx, sender.address().to_string(), now);
  } else if (const ArtPoll* poll = std::get_if<ArtPoll>(&packet)) {
    if (pollers_.emplace(sender.address(), now).second) {
      log_("artnet: controller " + sender.address().to_string() + " polled; input goes to it too");
    }
    pollers_[sender.address()] = now;
    Reply(*poll, sender);
  } else if (std::holds_alternative<ArtSync>(packet)) {
    for (auto& entry : outputs_) {
      entry.second->sources.OnSync(sender.address().to_string(), now);
      Merge(*entry.second, now);
    }
  }
  // Replies of other nodes (and our own, looped back) need nothing.
}

void ArtnetNode::OnDmx(const ArtDmx& packet, const std::string& address, TimePoint now) {
  auto found = outputs_.find(packet.portAddress);
  if (found == outputs_.end()) {
    drops_.Count(DropKind::kNotConfigured);
    return;
  }
  Output& output = *found->second;
  ++output.output->packets;
  if (std::optional<DropKind> drop = output.sources.OnDmx(packet, address, now)) output.output->drops.Count(*drop);
  Merge(output, now);
}

void ArtnetNode::Merge(Output& output, TimePoint now) {
  LogEvents(output);
  if (output.sources.generation() == output.merged) return;
  output.merged = output.sources.generation();
  uint8_t levels[kSlotCount];
  size_t sources = output.sources.Merge(levels, nullptr);
  output.output->sources = output.sources.SourceCount();
  std::string event = output.output->Apply(levels, sources, now);
  if (!event.empty()) log_(event);
}

void ArtnetNode::Reply(const ArtPoll& poll, const Endpoint& poller) {
  std::vector<ArtnetNodePort> ports;
  std::vector<uint16_t> addresses;
  std::set<uint16_t> all;
  for (const auto& entry : outputs_) all.insert(entry.first);
  for (const auto& entry : inputs_) all.insert(entry.first);
  for (uint16_t address : all) {
    ArtnetNodePort port;
    port.portAddress = address;
    auto output = outputs_.find(address);
    if (output != outputs_.end()) {
      port.output = true;
      port.merging = output->second->sources.merging();
      for (InterfacePort* interface : output->second->output->ports()) {
        port.outputGood = port.outputGood || interface->connected();
      }
    }
    auto input = inputs_.find(address);
    if (input != inputs_.end()) {
      port.input = true;
      port.inputGood = input->second->connected();
    }
    ports.push_back(port);
    addresses.push_back(address);
  }
  if (!ArtPollAddresses(poll, addresses)) return;

  ArtPollReply node;
  node.ip = LocalAddressTowards(bind_, poller.address(), socket_->io());
  node.port = static_cast<uint16_t>(port_);
  node.shortName = "ombrix bridge";
  node.longName = "ombrix bridge on " + HostName();
  // "#code [count] text": code 0001 is "power on tests passed", count the
  // replies sent so far, as controllers show it.
  char report[64];
  snprintf(report, sizeof(report), "#0001 [%04u] %zu port(s) mapped", static_cast<unsigned>(++replies_ % 10000),
           ports.size());
  node.nodeReport = report;
  // Art-Net answers go to port 6454 of the poller; a poller that polled from
  // another port (a tool on the same machine) gets its copy there as well.
  std::vector<Endpoint> destinations{Endpoint(poller.address(), static_cast<uint16_t>(port_))};
  if (poller.port() != port_) destinations.push_back(poller);
  for (const ArtPollReply& reply : ArtPollRepliesFor(node, ports)) {
    uint8_t out[kArtPollReplySize];
    size_t size = BuildArtPollReply(reply, out, sizeof(out));
    if (size == 0) continue;
    for (const Endpoint& destination : destinations) socket_->Send(out, size, destination);
  }
}

void ArtnetNode::SendLevels(uint16_t portAddress, const std::array<uint8_t, 512>& levels, TimePoint now) {
  uint8_t& sequence = sequences_[portAddress];
  ArtDmx packet;
  packet.sequence = sequence;
  sequence = sequence == 255 ? 1 : sequence + 1;
  packet.portAddress = portAddress;
  packet.data = levels.data();
  packet.length = 512;
  uint8_t out[kArtDmxMaxSize];
  size_t size = BuildArtDmx(packet, out, sizeof(out));
  if (size == 0) return;
  for (const auto& [address, polled] : pollers_) {
    if (now - polled <= kPollerLifetime) socket_->Send(out, size, Endpoint(address, static_cast<uint16_t>(port_)));
  }
  for (const Endpoint& target : targets_) socket_->Send(out, size, target);
}

void ArtnetNode::Tick(TimePoint now) {
  for (auto& entry : outputs_) {
    entry.second->sources.Expire(now);
    Merge(*entry.second, now);
    entry.second->output->Tick(now);
  }
  for (auto it = pollers_.begin(); it != pollers_.end();) {
    if (now - it->second > kPollerLifetime) {
      log_("artnet: controller " + it->first.to_string() + " has not polled for 10 s");
      it = pollers_.erase(it);
    } else {
      ++it;
    }
  }
}

void ArtnetNode::LogEvents(Output& output) {
  for (const SourceEvent& event : output.sources.TakeEvents()) {
    log_(UniverseText(output.output->universe()) + ": source " + event.address + " " + SourceEventKindName(event.kind));
  }
}

}  // namespace ombrix_bridge
