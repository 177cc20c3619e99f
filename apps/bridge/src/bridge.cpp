#include "bridge.h"

#include <asio/post.hpp>

#include <algorithm>

#include "network_choice.h"
#include <vector>

namespace ombrix_bridge {

using Clock = ombrix::protocols::Clock;

Bridge::Bridge(const ombrix_tool::Api& api, const BridgeConfig& config, bool multicast, BridgeTiming timing)
    : api_(api), config_(config), multicast_(multicast), timing_(timing) {}

Bridge::~Bridge() { Stop(); }

InterfacePort* Bridge::PortFor(const Serial& serial) {
  for (const auto& port : ports_) {
    if (port->serial() == serial) return port.get();
  }
  bool output = false, input = false;
  for (const Mapping& mapping : config_.mappings) {
    if (mapping.serial != serial) continue;
    output = output || mapping.direction == Direction::kOut;
    input = input || mapping.direction == Direction::kIn;
  }
  ports_.push_back(
      std::make_unique<InterfacePort>(api_, serial, ModeFor(config_, serial), output, input, [this] { Wake(); }));
  return ports_.back().get();
}

bool Bridge::Start(std::string* error) {
  if (!allow_.Parse(config_.allow, error)) return false;
  NetworkChoice network;
  if (!ChooseNetwork(config_.bind, ListNetworkInterfaces(), DefaultRouteInterface(), &network, error)) return false;
  asio::ip::address bind = network.address;
  auto parseTargets = [&](const std::vector<std::string>& texts, int port, std::vector<Endpoint>* out) {
    for (const std::string& text : texts) {
      Endpoint endpoint;
      if (!ParseEndpoint(text, port, &endpoint, error)) return false;
      out->push_back(endpoint);
    }
    return true;
  };
  std::vector<Endpoint> sacnTargets, artnetTargets;
  if (!parseTargets(config_.sacnTargets, config_.sacnPort, &sacnTargets) ||
      !parseTargets(config_.artnetTargets, config_.artnetPort, &artnetTargets)) {
    return false;
  }
  auto log = [](const std::string& line) { LogLine(line); };
  sacnSocket_ = std::make_unique<UdpSocket>(io_, [this](const uint8_t* data, size_t size, const Endpoint& from) {
    sacnReceiver_->OnDatagram(data, size, from, Clock::now());
  });
  artnetSocket_ = std::make_unique<UdpSocket>(io_, [this](const uint8_t* data, size_t size, const Endpoint& from) {
    artnetNode_->OnDatagram(data, size, from, Clock::now());
  });
  sacnReceiver_ = std::make_unique<SacnReceiver>(sacnSocket_.get(), &allow_, multicast_, log, timing_.prioritiesWait);
  sacnSender_ = std::make_unique<SacnSender>(sacnSocket_.get(), sacnTargets, multicast_ && bind.is_v4(),
                                             config_.sacnPort, config_.priority);
  artnetNode_ =
      std::make_unique<ArtnetNode>(artnetSocket_.get(), &allow_, artnetTargets, config_.artnetPort, bind, log);
  artnetNode_->Describe(config_.loss, network.mac);
  // Polls (and, when asked, ArtDmx) go to the subnet's broadcast only where
  // the node speaks to a network of its own, never with --unicast-only.
  artnetNode_->Subscribe(multicast_ ? network.broadcast : asio::ip::address_v4(), config_.artnetBroadcast);
  if (config_.artnetBroadcast && (!multicast_ || network.broadcast.is_unspecified())) {
    LogLine("warning: --artnet-broadcast: " + network.description +
            " has no broadcast address to send to; ArtDmx goes to subscribed nodes, pollers and targets only");
  }
  if (!sacnSocket_->Open(bind, config_.sacnPort, error) || !artnetSocket_->Open(bind, config_.artnetPort, error)) {
    *error = "sACN or Art-Net: " + *error;
    return false;
  }
  if (!config_.http.empty()) {
    page_ = std::make_unique<StatusPage>(api_, config_);
    if (!page_->Start(error)) return false;
  }

  for (const Mapping& mapping : config_.mappings) {
    InterfacePort* port = PortFor(mapping.serial);
    if (mapping.direction == Direction::kIn) {
      inputs_.push_back(std::make_unique<InputStream>(port, mapping.universe));
      if (mapping.universe.protocol == Protocol::kSacn) {
        sacnReceiver_->IgnoreSource(sacnSender_->AddUniverse(mapping.universe.number, mapping.serial,
                                                             PrioritiesFor(config_, mapping.universe)));
      } else {
        artnetNode_->AddInput(mapping.universe.number, port);
      }
      continue;
    }
    OutputUniverse* output = nullptr;
    for (const auto& existing : outputs_) {
      if (existing->universe() == mapping.universe) output = existing.get();
    }
    if (output == nullptr) {
      OutputSettings settings = SettingsFor(config_, mapping.universe);
      outputs_.push_back(std::make_unique<OutputUniverse>(mapping.universe, settings.loss, settings.fadeSeconds));
      output = outputs_.back().get();
      output->StartSampling(Clock::now() + timing_.sampling);
      if (mapping.universe.protocol == Protocol::kSacn)
        sacnReceiver_->AddUniverse(output, settings.merge);
      else
        artnetNode_->AddOutput(output, settings.merge);
    }
    output->AddPort(port);
  }
  artnetNode_->OnInputRepatched([this](uint16_t from, uint16_t to) { InputRepatched(from, to); });
  artnetNode_->Manage(config_.manage, &state_, [this] { SaveState(); });
  LoadState();
  ApplyState();
  started_ = Clock::now();
  scenesPending_ = config_.recordScene;
  LogLine("listening for sACN on UDP port " + std::to_string(config_.sacnPort) + " and Art-Net on " +
          std::to_string(config_.artnetPort) + " on " + network.description + (multicast_ ? "" : ", unicast only") +
          "; " + std::to_string(ports_.size()) + " interface(s), " + std::to_string(outputs_.size()) +
          " universe(s) received, " + std::to_string(inputs_.size()) + " sent");
  if (!network.warning.empty()) LogLine("warning: " + network.warning);
  if (page_) LogLine("status page on " + page_->Url());
  for (const auto& port : ports_) {
    std::string why;
    if (port->TryOpen(&why)) {
      LogLine(ombrix_tool::SerialText(port->serial()) + " connected");
    } else {
      LogLine(ombrix_tool::SerialText(port->serial()) + " " + why + "; looking for it once a second");
    }
  }
  return true;
}

void Bridge::Run() {
  signals_.async_wait([this](const asio::error_code& failure, int) {
    if (!failure) Stop();
  });
  lastStatus_ = Clock::now();
  StartTimer(tickTimer_, timing_.tick, &Bridge::Tick);
  StartTimer(lookTimer_, timing_.look, &Bridge::LookForInterfaces);
  StartTimer(statusTimer_, timing_.status, &Bridge::PrintStatus);
  StartTimer(discoveryTimer_, timing_.discovery, &Bridge::SendDiscovery);
  SendDiscovery();
  ServiceInputs();
  io_.run();
}

void Bridge::RequestStop() {
  asio::post(io_, [this] { Stop(); });
}

const ombrix::protocols::DropCounters& Bridge::ProtocolDrops(Protocol protocol) const {
  return protocol == Protocol::kSacn ? sacnReceiver_->drops() : artnetNode_->drops();
}

const ombrix::protocols::DropCounters* Bridge::UniverseDrops(const NetworkUniverse& universe) const {
  for (const auto& output : outputs_) {
    if (output->universe() == universe) return &output->drops;
  }
  return nullptr;
}

void Bridge::StartTimer(asio::steady_timer& timer, std::chrono::milliseconds period, void (Bridge::*step)()) {
  timer.expires_after(period);
  timer.async_wait([this, &timer, period, step](const asio::error_code& failure) {
    if (failure || stopped_) return;
    (this->*step)();
    StartTimer(timer, period, step);
  });
}

void Bridge::Wake() {
  if (!wakePending_.exchange(true)) asio::post(io_, [this] { OnWake(); });
}

void Bridge::OnWake() {
  if (stopped_) return;
  ServiceWake();
  // A busy input line stores a block every millisecond on each interface:
  // wake-ups are gathered for a millisecond rather than taken one by one.
  // Until the hold-off ends wakePending_ stays set, so callbacks post
  // nothing; clearing it before the last look means that no input block
  // and no failure is missed.
  holdoffTimer_.expires_after(std::chrono::milliseconds(1));
  holdoffTimer_.async_wait([this](const asio::error_code& failure) {
    if (failure || stopped_) return;
    wakePending_.store(false);
    ServiceWake();
  });
}

void Bridge::ServiceWake() {
  CloseFailedLinks();
  ServiceInputs();
}

void Bridge::CloseFailedLinks() {
  for (const auto& port : ports_) {
    if (port->CloseIfFailed()) {
      LogLine(ombrix_tool::SerialText(port->serial()) + " failed; link closed, looking for it once a second");
      TerminateInputs(port.get());
    }
  }
}

void Bridge::TerminateInputs(InterfacePort* port) {
  for (const auto& input : inputs_) {
    if (input->port() == port && input->universe().protocol == Protocol::kSacn) {
      sacnSender_->Terminate(input->universe().number);
    }
  }
}

void Bridge::ServiceInputs() {
  for (const auto& port : ports_) {
    if (port->TakeChangedInput() == 0) continue;
    for (const auto& input : inputs_) {
      if (input->port() == port.get()) input->MarkChanged();
    }
  }
  SendInputs();
}

void Bridge::SendInputs() {
  TimePoint now = Clock::now();
  TimePoint next = TimePoint::max();
  std::array<uint8_t, 512> levels;
  for (const auto& input : inputs_) {
    if (!input->Poll(now, &levels, &next)) continue;
    if (input->universe().protocol == Protocol::kSacn)
      sacnSender_->SendLevels(input->universe().number, levels, now);
    else
      artnetNode_->SendLevels(input->universe().number, levels, now);
  }
  // A change that came too soon after the last packet goes out when the
  // rate allows, not at the next tick.
  if (next - now < timing_.tick) {
    sendTimer_.expires_at(next);
    sendTimer_.async_wait([this](const asio::error_code& failure) {
      if (!failure && !stopped_) SendInputs();
    });
  }
}

void Bridge::Tick() {
  TimePoint now = Clock::now();
  sacnReceiver_->Tick(now);
  artnetNode_->Tick(now);
  SendInputs();
  sacnSender_->KeepPrioritiesAlive(now);
  if (scenesPending_) RecordScenesWhenDriven(now);
  if (page_) page_->Update(outputs_, inputs_, ports_, *sacnReceiver_, *artnetNode_);
}

void Bridge::LookForInterfaces() {
  CloseFailedLinks();
  // The library reports every transfer that fails or cannot start as an
  // interface change; an interface that has left the device list counts as
  // failed too, so that a link the bridge has not yet heard about is closed
  // on the next look rather than kept open on a device that is gone.
  std::vector<Serial> attached = ombrix_tool::ConnectedSerials(api_);
  for (const auto& port : ports_) {
    if (!port->connected() || std::find(attached.begin(), attached.end(), port->serial()) != attached.end()) continue;
    port->Close();
    LogLine(ombrix_tool::SerialText(port->serial()) +
            " is no longer attached; link closed, looking for it once a second");
    TerminateInputs(port.get());
  }
  for (const auto& port : ports_) {
    if (port->connected()) continue;
    std::string why;
    if (port->TryOpen(&why)) {
      LogLine(ombrix_tool::SerialText(port->serial()) + " is back; link reopened, mode set, levels sent again");
      ServiceInputs();
    }
  }
}

void Bridge::PrintStatus() {
  TimePoint now = Clock::now();
  double seconds = std::chrono::duration<double>(now - lastStatus_).count();
  lastStatus_ = now;
  LogLine(status_.Compose(outputs_, inputs_, ports_, sacnReceiver_->drops(), artnetNode_->drops(), seconds));
}

void Bridge::SendDiscovery() { sacnSender_->SendDiscovery(); }

void Bridge::Stop() {
  if (stopped_) return;
  stopped_ = true;
  if (sacnSender_) sacnSender_->Terminate();
  for (const auto& port : ports_) port->Close();
  // After the streams and links: a browser still connected may keep the
  // page's threads a few seconds.
  if (page_) page_->Stop();
  if (sacnSocket_) sacnSocket_->Close();
  if (artnetSocket_) artnetSocket_->Close();
  asio::error_code ignored;
  for (asio::steady_timer* timer :
       {&tickTimer_, &lookTimer_, &statusTimer_, &discoveryTimer_, &sendTimer_, &holdoffTimer_}) {
    timer->cancel();
  }
  signals_.cancel(ignored);
  io_.stop();
  if (sacnSocket_) LogLine("stopped: sACN streams terminated, links closed");
}

}  // namespace ombrix_bridge
