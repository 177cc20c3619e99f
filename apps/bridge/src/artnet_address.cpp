// ArtAddress: a console re-programming the node from the network. Only the
// senders --manage names may; each change is applied at once, logged in one
// line with its sender, noted in the node's state and saved, and the console
// is answered with the node's poll replies as they now stand.
#include <cstdio>

#include "artnet_node.h"
#include "protocols/printable.h"

namespace ombrix_bridge {

using namespace ombrix::protocols;

namespace {

constexpr std::chrono::seconds kRefusedLogInterval{60};

std::string Address(uint16_t portAddress) { return UniverseText({Protocol::kArtnet, portAddress}); }

// A switch as ArtAddress gives it: programmed (bit 7 set), back to the
// configured value (0), or left as it is (0x7F, or anything else).
uint8_t Switched(uint8_t given, uint8_t current, uint8_t configured, uint8_t mask) {
  if (given & kArtSwitchProgram) return given & mask;
  return given == kArtSwitchReset ? configured : current;
}

}  // namespace

void ArtnetNode::Manage(std::vector<std::string> manage, NodeState* state, std::function<void()> save) {
  std::string ignored;
  managed_ = !manage.empty() && manage_.Parse(manage, &ignored);
  state_ = state;
  save_ = std::move(save);
}

void ArtnetNode::Name(const std::string& shortName, const std::string& longName) {
  if (!shortName.empty()) shortName_ = shortName;
  if (!longName.empty()) longName_ = longName;
}

void ArtnetNode::Remote(const std::string& who, const std::string& what) {
  std::string line = "artnet: " + who + " " + what;
  log_(line);
  lastRemoteChange_ = who + " " + what;
}

bool ArtnetNode::RepatchOutput(uint16_t from, uint16_t to, std::string* error) {
  auto found = outputs_.find(from);
  if (found == outputs_.end()) {
    *error = Address(from) + " is not an output of this node";
    return false;
  }
  if (from == to) return true;
  if (outputs_.count(to) != 0 || inputs_.count(to) != 0) {
    *error = Address(to) + " is already a port of this node";
    return false;
  }
  std::unique_ptr<Output> output = std::move(found->second);
  outputs_.erase(found);
  output->sources.SetPortAddress(to);
  output->output->Renumber({Protocol::kArtnet, to});
  outputs_.emplace(to, std::move(output));
  return true;
}

bool ArtnetNode::RepatchInput(uint16_t from, uint16_t to, std::string* error) {
  auto found = inputs_.find(from);
  if (found == inputs_.end()) {
    *error = Address(from) + " is not an input of this node";
    return false;
  }
  if (from == to) return true;
  if (outputs_.count(to) != 0 || inputs_.count(to) != 0) {
    *error = Address(to) + " is already a port of this node";
    return false;
  }
  inputs_[to] = found->second;
  sequences_[to] = sequences_[from];
  physical_[to] = physical_[from];
  inputs_.erase(from);
  sequences_.erase(from);
  physical_.erase(from);
  if (inputRepatched_) inputRepatched_(from, to);
  return true;
}

void ArtnetNode::SetMergeRules(uint16_t portAddress, const MergeRules& rules, TimePoint now) {
  auto found = outputs_.find(portAddress);
  if (found != outputs_.end()) found->second->sources.SetRules(rules, now);
}

bool ArtnetNode::FindPage(uint8_t bindIndex, Page* page) const {
  ArtPollReply node;
  std::vector<ArtPollReply> replies = ArtPollRepliesFor(node, DescribePorts());
  size_t index = bindIndex == 0 ? 1 : bindIndex;
  if (index > replies.size()) return false;
  const ArtPollReply& reply = replies[index - 1];
  for (size_t i = 0; i < reply.portCount; ++i) {
    const ArtPollReplyPort& port = reply.ports[i];
    page->output[i] = (port.portType & kArtPortOutput) != 0;
    page->input[i] = (port.portType & kArtPortInput) != 0;
    page->outputs[i] = ArtnetPortAddress(reply.netSwitch, reply.subSwitch, port.swOut);
    page->inputs[i] = ArtnetPortAddress(reply.netSwitch, reply.subSwitch, port.swIn);
  }
  return true;
}

void ArtnetNode::OnAddress(const ArtAddress& packet, const Endpoint& sender, TimePoint now) {
  std::string who = sender.address().to_string();
  if (!managed_ || !manage_.Allows(sender.address())) {
    drops_.Count(DropKind::kNotAllowed);
    ++refused_;
    if (refusedLogged_ == TimePoint{} || now - refusedLogged_ >= kRefusedLogInterval) {
      log_("artnet: " + std::to_string(refused_) + " ArtAddress refused (latest from " + who +
           "): only the senders --manage names may change this node");
      refused_ = 0;
      refusedLogged_ = now;
    }
    return;
  }
  // Names come from the network and go into the log, the page and the
  // replies: control characters and broken UTF-8 are not kept.
  std::string shortName = PrintableText(packet.shortName), longName = PrintableText(packet.longName);
  if (!shortName.empty() && shortName != shortName_) {
    shortName_ = shortName;
    if (state_) state_->shortName = shortName_;
    Remote(who, "renamed the node \"" + shortName_ + "\"");
  }
  if (!longName.empty() && longName != longName_) {
    longName_ = longName;
    if (state_) state_->longName = longName_;
    Remote(who, "gave the node the long name \"" + longName_ + "\"");
  }
  Page page;
  if (FindPage(packet.bindIndex, &page)) {
    Repatch(packet, page, who);
    if (!FindPage(packet.bindIndex, &page)) page = Page{};
    Command(packet.command, page, who, now);
  } else {
    log_("artnet: " + who + " addressed bind index " + std::to_string(packet.bindIndex) +
         ", which this node does not have; only its names were taken");
  }
  if (save_) save_();
  Reply(ArtPoll{}, sender);
}

void ArtnetNode::Repatch(const ArtAddress& packet, const Page& page, const std::string& who) {
  for (size_t i = 0; i < 4; ++i) {
    for (bool output : {true, false}) {
      if (!(output ? page.output[i] : page.input[i])) continue;
      uint16_t from = output ? page.outputs[i] : page.inputs[i];
      uint8_t given = output ? packet.swOut[i] : packet.swIn[i];
      if (given == kArtSwitchNoChange && packet.netSwitch == kArtSwitchNoChange &&
          packet.subSwitch == kArtSwitchNoChange) {
        continue;
      }
      // What "back to the node's own setting" means here: the universe
      // the configuration gives the port.
      NetworkUniverse configured{Protocol::kArtnet, from};
      if (output) {
        auto found = outputs_.find(from);
        if (found != outputs_.end()) configured = found->second->output->configured();
      } else if (state_) {
        for (const NodeState::Input& input : state_->inputs) {
          if (input.patch.number == from && input.patch.protocol == Protocol::kArtnet) configured = input.configured;
        }
      }
      if (configured.protocol != Protocol::kArtnet) continue;
      uint16_t to =
          ArtnetPortAddress(Switched(packet.netSwitch, ArtnetNet(from), ArtnetNet(configured.number), 0x7F),
                            Switched(packet.subSwitch, ArtnetSubNet(from), ArtnetSubNet(configured.number), 0x0F),
                            Switched(given, ArtnetUniverse(from), ArtnetUniverse(configured.number), 0x0F));
      if (to == from) continue;
      std::string error;
      if (!(output ? RepatchOutput(from, to, &error) : RepatchInput(from, to, &error))) {
        log_("artnet: " + who + " asked to re-patch " + Address(from) + " to " + Address(to) + ": refused, " + error);
        continue;
      }
      if (state_ && output) {
        NodeState::Output& saved = state_->OutputFor(configured);
        saved.patch = to == configured.number ? std::nullopt : std::optional<NetworkUniverse>({Protocol::kArtnet, to});
      } else if (state_) {
        state_->InputFor(configured).patch = {Protocol::kArtnet, to};
      }
      Remote(who, std::string("re-patched ") + (output ? "output " : "input ") + Address(from) + " to " + Address(to));
    }
  }
}

void ArtnetNode::Command(uint8_t command, const Page& page, const std::string& who, TimePoint now) {
  auto forOutputs = [&](auto apply) {
    for (auto& [address, output] : outputs_) apply(*output);
  };
  auto loss = [&](LossPolicy policy) {
    loss_ = policy;
    forOutputs([&](Output& output) {
      output.output->SetLoss(policy);
      if (state_) state_->OutputFor(output.output->configured()).loss = policy;
    });
    Remote(who, std::string("set the fail-safe of every Art-Net output to ") + LossPolicyName(policy));
  };
  uint8_t base = command & 0xF0, port = command & 0x03;
  bool portCommand = (base == 0x10 || base == 0x50 || base == 0x90) && (command & 0x0C) == 0;
  auto output = portCommand && page.output[port] ? outputs_.find(page.outputs[port]) : outputs_.end();
  switch (static_cast<ArtAddressCommand>(portCommand ? base : command)) {
    case ArtAddressCommand::kNone:
    case ArtAddressCommand::kResetRxFlags:
      return;
    case ArtAddressCommand::kCancelMerge:
      forOutputs([](Output& each) { each.sources.CancelMerge(); });
      return Remote(who, "cancelled the merge: the next ArtDmx's sender is each output's only source");
    case ArtAddressCommand::kLedLocate:
      if (!identify_) log_("artnet: " + who + " asks this node to identify itself (shown on the status page)");
      identify_ = true;
      return;
    case ArtAddressCommand::kLedNormal:
    case ArtAddressCommand::kLedMute:
      if (identify_) log_("artnet: " + who + " ended the node's identify");
      identify_ = false;
      return;
    case ArtAddressCommand::kFailHold:
      return loss(LossPolicy::kHold);
    case ArtAddressCommand::kFailZero:
      return loss(LossPolicy::kZero);
    case ArtAddressCommand::kFailFull:
      return loss(LossPolicy::kFull);
    case ArtAddressCommand::kFailScene:
      return loss(LossPolicy::kScene);
    case ArtAddressCommand::kFailRecord:
      forOutputs([&](Output& each) {
        each.output->RecordScene();
        if (state_) state_->OutputFor(each.output->configured()).scene = each.output->shown();
      });
      return Remote(who, "recorded the fail-safe scene of every Art-Net output from what it shows now");
    case ArtAddressCommand::kMergeLtp0:
    case ArtAddressCommand::kMergeHtp0: {
      if (output == outputs_.end()) break;
      MergeRules rules = output->second->sources.rules();
      rules.mode = base == 0x10 ? MergeMode::kLtp : MergeMode::kHtp;
      output->second->sources.SetRules(rules, now);
      if (state_) state_->OutputFor(output->second->output->configured()).merge = rules.mode;
      return Remote(who,
                    std::string("set the merge of ") + Address(output->first) + " to " + MergeModeName(rules.mode));
    }
    case ArtAddressCommand::kClearOp0:
      if (output == outputs_.end()) break;
      output->second->output->Clear();
      return Remote(who, "cleared the output of " + Address(output->first));
    case ArtAddressCommand::kArtNetSel0:
    case ArtAddressCommand::kAcnSel0:
      break;
    default:
      break;
  }
  char code[8];
  snprintf(code, sizeof(code), "0x%02X", command);
  log_("artnet: " + who + " sent ArtAddress command " + code + ", which this node does not carry out here");
}

}  // namespace ombrix_bridge
