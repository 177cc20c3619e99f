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

void ArtnetNode::AddOutput(OutputUniverse* output, const MergeRules& rules) {
  uint16_t address = output->universe().number;
  auto added = outputs_.emplace(address, std::unique_ptr<Output>(new Output{ArtnetPort(address), output}));
  added.first->second->sources.SetRules(rules, TimePoint{});
}

void ArtnetNode::AddInput(uint16_t portAddress, InterfacePort* port) {
  inputs_[portAddress] = port;
  sequences_[portAddress] = 1;
  // Each input has a Physical number of its own, so that receivers that
  // key sources by address and Physical keep them apart.
  physical_[portAddress] = static_cast<uint8_t>(physical_.size());
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
    OnPoll(*poll, sender, now);
  } else if (const ArtPollReply* reply = std::get_if<ArtPollReply>(&packet)) {
    // Our own replies, looped back, list only outputs, and a port-address
    // is never both an output and an input here: they subscribe nothing.
    std::set<uint16_t> sent;
    for (const auto& entry : inputs_) sent.insert(entry.first);
    if (!sent.empty()) subscribers_.OnReply(*reply, sender.address(), sent, now);
  } else if (const ArtAddress* address = std::get_if<ArtAddress>(&packet)) {
    OnAddress(*address, sender, now);
  } else if (std::holds_alternative<ArtSync>(packet)) {
    for (auto& entry : outputs_) {
      entry.second->sources.OnSync(sender.address().to_string(), now);
      Merge(*entry.second, now);
    }
  }
  // Replies of other nodes (and our own, looped back) need nothing.
}

void ArtnetNode::OnPoll(const ArtPoll& poll, const Endpoint& sender, TimePoint now) {
  auto found = pollers_.find(sender.address());
  if (found == pollers_.end()) {
    if (pollers_.size() >= kPollerLimit) {
      auto oldest = pollers_.begin();
      for (auto it = pollers_.begin(); it != pollers_.end(); ++it) {
        if (it->second.polled < oldest->second.polled) oldest = it;
      }
      pollers_.erase(oldest);
    }
    found = pollers_.emplace(sender.address(), Poller{}).first;
    // One line a minute at most, however many addresses poll.
    ++newPollers_;
    if (now - newPollerLogged_ >= kNewPollerLogInterval || newPollerLogged_ == TimePoint{}) {
      log_("artnet: " + std::to_string(newPollers_) + " new controller(s) polled (latest " +
           sender.address().to_string() + "); input goes to them too (" + std::to_string(pollers_.size()) +
           " known, at most " + std::to_string(kPollerLimit) + ")");
      newPollers_ = 0;
      newPollerLogged_ = now;
    }
  }
  found->second.polled = now;
  found->second.replyOnChange = (poll.flags & kArtPollFlagReplyOnChange) != 0;
  found->second.poll = poll;
  found->second.from = sender;
  Reply(poll, sender);
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
  std::string desk = output.desk.Follow(output.sources, *output.output, now);
  if (!desk.empty()) log_(desk);
  output.output->sources = output.sources.SourceCount();
  if (output.sources.generation() == output.merged || output.output->Sampling(now)) return;
  output.merged = output.sources.generation();
  uint8_t levels[kSlotCount];
  size_t sources = output.sources.Merge(levels, nullptr);
  std::string event = output.output->Apply(levels, sources, now);
  if (!event.empty()) log_(event);
}

std::vector<ArtnetNodePort> ArtnetNode::DescribePorts() const {
  std::vector<ArtnetNodePort> ports;
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
  }
  return ports;
}

void ArtnetNode::Reply(const ArtPoll& poll, const Endpoint& poller) {
  std::vector<ArtnetNodePort> ports = DescribePorts();
  // What a controller was last told: a change from it is what the
  // pollers that asked for replies on change hear of.
  lastPortState_ = PortState(ports);
  std::vector<uint16_t> addresses;
  for (const ArtnetNodePort& port : ports) addresses.push_back(port.portAddress);
  if (!ArtPollAddresses(poll, addresses)) return;

  ArtPollReply node;
  node.ip = LocalAddressTowards(bind_, poller.address(), socket_->io());
  node.port = static_cast<uint16_t>(port_);
  node.shortName = shortName_;
  node.longName = longName_.empty() ? "ombrix bridge on " + HostName() : longName_;
  // Status1 bits 7-6: the indicators, "locate" while a console asks the
  // node to identify itself.
  if (identify_) node.status1 = static_cast<uint8_t>((node.status1 & 0x3F) | 0x40);
  // "#code [count] text": code 0001 is "power on tests passed", count the
  // replies sent so far, as controllers show it.
  char report[64];
  snprintf(report, sizeof(report), "#0001 [%04u] %zu port(s) mapped", static_cast<unsigned>(++replies_ % 10000),
           ports.size());
  node.nodeReport = report;
  node.mac = mac_;
  node.status3 = static_cast<uint8_t>(Status3Failsafe(loss_) | (managed_ ? kArtStatus3FailsafeProgrammable : 0));
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
  packet.physical = physical_[portAddress];
  packet.portAddress = portAddress;
  packet.data = levels.data();
  packet.length = 512;
  uint8_t out[kArtDmxMaxSize];
  size_t size = BuildArtDmx(packet, out, sizeof(out));
  if (size == 0) return;
  // Each destination once, however many ways it was found.
  std::set<Endpoint> destinations(targets_.begin(), targets_.end());
  uint16_t artnetPort = static_cast<uint16_t>(port_);
  for (const auto& [address, poller] : pollers_) {
    if (now - poller.polled <= kPollerLifetime) destinations.insert(Endpoint(address, artnetPort));
  }
  for (const asio::ip::address& node : subscribers_.For(portAddress)) destinations.insert(Endpoint(node, artnetPort));
  if (dmxBroadcast_) destinations.insert(Endpoint(broadcast_, artnetPort));
  for (const Endpoint& destination : destinations) socket_->Send(out, size, destination);
}

void ArtnetNode::PollForSubscribers(TimePoint now) {
  subscribers_.Expire(now);
  if (inputs_.empty() || now - lastPoll_ < kSubscriptionPollInterval) return;
  lastPoll_ = now;
  ArtPoll poll;
  uint8_t out[kArtPollFullSize];
  size_t size = BuildArtPoll(poll, out, sizeof(out));
  for (const Endpoint& target : targets_) socket_->Send(out, size, target);
  if (!broadcast_.is_unspecified()) socket_->Send(out, size, Endpoint(broadcast_, static_cast<uint16_t>(port_)));
}

void ArtnetNode::Tick(TimePoint now) {
  for (auto& entry : outputs_) {
    entry.second->sources.Expire(now);
    Merge(*entry.second, now);
    entry.second->output->Tick(now);
  }
  ReplyOnChange();
  if (socket_) PollForSubscribers(now);
  size_t gone = 0;
  std::string last;
  for (auto it = pollers_.begin(); it != pollers_.end();) {
    if (now - it->second.polled > kPollerLifetime) {
      ++gone;
      last = it->first.to_string();
      it = pollers_.erase(it);
    } else {
      ++it;
    }
  }
  if (gone == 1) log_("artnet: controller " + last + " has not polled for 10 s");
  if (gone > 1) log_("artnet: " + std::to_string(gone) + " controllers have not polled for 10 s");
}

std::string ArtnetNode::PortState(const std::vector<ArtnetNodePort>& ports) {
  std::string state;
  for (const ArtnetNodePort& port : ports) {
    state += std::to_string(port.portAddress) + (port.outputGood ? "o" : "-") + (port.inputGood ? "i" : "-") +
             (port.merging ? "m" : "-") + " ";
  }
  return state;
}

void ArtnetNode::ReplyOnChange() {
  std::string state = PortState(DescribePorts());
  if (state == lastPortState_) return;
  lastPortState_ = state;
  for (const auto& entry : pollers_) {
    if (entry.second.replyOnChange) Reply(entry.second.poll, entry.second.from);
  }
}

void ArtnetNode::LogEvents(Output& output) {
  for (const SourceEvent& event : output.sources.TakeEvents()) {
    log_(UniverseText(output.output->universe()) + ": source " + event.address + " " + SourceEventKindName(event.kind));
  }
}

}  // namespace ombrix_bridge
