#include "player.h"

#include <asio/io_context.hpp>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <map>
#include <memory>

#include "allow_list.h"
#include "artnet_node.h"
#include "bridge_config.h"
#include "client/failure.h"
#include "interface_port.h"
#include "output_universe.h"
#include "protocols/artnet_packet.h"
#include "sacn_receiver.h"
#include "sacn_sender.h"
#include "show_reader.h"
#include "capture_log.h"
#include "udp_socket.h"

namespace ombrix_capture {
namespace {

void PlayLog(const std::string& text) { LogAs("play", text); }

using namespace ombrix_bridge;
using ombrix::protocols::MergeRules;
using ombrix::protocols::TimePoint;

constexpr int64_t kTickNs = 20000000;    // time-outs, fades, status
constexpr int64_t kLateNs = 2000000;     // a frame later than this counts as late
constexpr int64_t kLookNs = 1000000000;  // absent interfaces
constexpr uint32_t kBlackoutHoldMs = 1000;
constexpr int64_t kSettleNs = 100000000;

// The identity the player sends sACN under: a name-based CID from the host
// and this "serial", as the bridge's come from host and interface serial.
ombrix_tool::Serial PlayerSerial() {
  ombrix_tool::Serial serial;
  const char text[] = "OMBRIXPLAYER0000";
  std::copy(text, text + 16, serial.begin());
  return serial;
}

struct Send {
  NetworkUniverse from;
  NetworkUniverse to;
  OutputUniverse* output = nullptr;
  uint64_t packets = 0;  // of output, when last sent
};

TimePoint AtNs(int64_t ns) { return TimePoint(std::chrono::nanoseconds(ns)); }

bool ParseSend(const std::string& text, Send* send, std::string* error) {
  size_t equals = text.find('=');
  if (!ParseUniverse(text.substr(0, equals), &send->from, error)) return false;
  send->to = send->from;
  if (equals != std::string::npos && !ParseUniverse(text.substr(equals + 1), &send->to, error)) return false;
  return true;
}

// On the simulator: whether the interface's wire carries the universe's
// last look, block by block from the simulator's write log, said in a line
// (the tier's check that the frames reached the interface, not only the
// buffer).
void ReportSimulatedWire(const ombrix_tool::Api& api, const Mapping& mapping, const std::array<uint8_t, 512>& look) {
  int32_t device = static_cast<int32_t>(strtol(ombrix_tool::SerialText(mapping.serial).c_str() + 3, nullptr, 10));
  std::array<int, 512> wire;
  wire.fill(-1);
  uint8_t report[64];
  uint32_t count = api.OmbrixSimWriteCount(device);
  for (uint32_t i = 0; i < count; ++i) {
    if (api.OmbrixSimGetWrite(device, i, report, sizeof(report), nullptr) != 34 || report[1] > 0x0F) continue;
    for (int slot = 0; slot < 32; ++slot) wire[report[1] * 32 + slot] = report[2 + slot];
  }
  std::string text = "simulated wire: " + ombrix_tool::SerialText(mapping.serial);
  for (int channel = 0; channel < 512; ++channel) {
    if (wire[channel] == look[channel]) continue;
    PlayLog(text + " differs from the last look of " + UniverseText(mapping.universe) + " at channel " +
            std::to_string(channel + 1) + " (wire " + std::to_string(wire[channel]) + ", look " +
            std::to_string(look[channel]) + ")");
    return;
  }
  PlayLog(text + " carries the last look of " + UniverseText(mapping.universe) + " (512 channels)");
}

}  // namespace

int RunPlay(const ombrix_tool::Api& api, const PlayOptions& options, const PlayHooks& hooks) {
  using ombrix_tool::Fail;
  using ombrix_tool::FailUsage;
  std::string error;
  if (options.files.empty()) return FailUsage("Name at least one capture file to play.");
  if (!(options.speed > 0) || options.speed > 1000) return FailUsage("--speed must be above 0 and at most 1000.");
  if (options.holdLast && options.blackout) return FailUsage("--hold-last and --blackout exclude each other.");
  double fromSeconds = 0, toSeconds = -1;
  if (!options.from.empty() && !ParseShowTime(options.from, &fromSeconds, &error)) return FailUsage(error);
  if (!options.to.empty() && !ParseShowTime(options.to, &toSeconds, &error)) return FailUsage(error);
  if (toSeconds >= 0 && toSeconds <= fromSeconds) return FailUsage("--to must come after --from.");
  std::vector<Mapping> outs;
  for (const std::string& text : options.outs) {
    Mapping mapping;
    if (!ParseMapping(text, Direction::kOut, &mapping, &error)) return FailUsage(error);
    for (const Mapping& other : outs) {
      if (other.serial == mapping.serial) {
        return FailUsage(ombrix_tool::SerialText(mapping.serial) +
                         " is named by two --out; an interface has one output.");
      }
    }
    outs.push_back(mapping);
  }
  std::vector<Send> sends;
  for (const std::string& text : options.sends) {
    Send send;
    if (!ParseSend(text, &send, &error)) return FailUsage(error);
    sends.push_back(send);
  }
  AllowList allow;
  if (!allow.Parse(options.allow, &error)) return FailUsage(error);
  if (!CheckAddress(options.bind, &error)) return FailUsage(error);
  ShowPorts ports;
  for (int port : options.sacnPorts) ports.sacn.insert(static_cast<uint16_t>(port));
  for (int port : options.artnetPorts) ports.artnet.insert(static_cast<uint16_t>(port));

  ShowReader show(options.files, ports);
  if (!show.Check(&error)) return Fail(error);

  // The universes played: one output per recorded universe that is mapped.
  std::map<NetworkUniverse, std::unique_ptr<OutputUniverse>> universes;
  auto universeFor = [&](const NetworkUniverse& universe) {
    std::unique_ptr<OutputUniverse>& slot = universes[universe];
    if (!slot) slot = std::make_unique<OutputUniverse>(universe, LossPolicy::kHold, 0.0);
    return slot.get();
  };
  std::vector<std::unique_ptr<InterfacePort>> interfaces;
  for (const Mapping& mapping : outs) {
    interfaces.push_back(std::make_unique<InterfacePort>(api, mapping.serial, options.mode, true, false, [] {}));
    universeFor(mapping.universe)->AddPort(interfaces.back().get());
  }
  for (Send& send : sends) send.output = universeFor(send.from);

  // Sending: a socket per protocol on an ephemeral port, so that a bridge
  // or another player on this machine keeps 5568 and 6454.
  asio::io_context io;
  asio::ip::address bind = asio::ip::make_address(options.bind);
  std::unique_ptr<UdpSocket> sacnSocket, artnetSocket;
  std::unique_ptr<SacnSender> sacnSender;
  std::unique_ptr<ArtnetNode> artnetSender;
  auto log = [](const std::string& line) { PlayLog(line); };
  bool sendsSacn = false, sendsArtnet = false;
  for (const Send& send : sends) (send.to.protocol == Protocol::kSacn ? sendsSacn : sendsArtnet) = true;
  auto targets = [&](const std::vector<std::string>& texts, int port, std::vector<Endpoint>* out) {
    for (const std::string& text : texts) {
      Endpoint endpoint;
      if (!ParseEndpoint(text, port, &endpoint, &error)) return false;
      out->push_back(endpoint);
    }
    return true;
  };
  std::vector<Endpoint> sacnTargets, artnetTargets;
  if (!targets(options.sacnTargets, 5568, &sacnTargets) || !targets(options.artnetTargets, 6454, &artnetTargets)) {
    return FailUsage(error);
  }
  if (sendsSacn) {
    sacnSocket = std::make_unique<UdpSocket>(io, [](const uint8_t*, size_t, const Endpoint&) {});
    if (!sacnSocket->Open(bind, 0, &error)) return Fail("sACN: " + error);
    sacnSender = std::make_unique<SacnSender>(sacnSocket.get(), sacnTargets, !options.unicastOnly && bind.is_v4(), 5568,
                                              options.priority);
    for (const Send& send : sends) {
      if (send.to.protocol == Protocol::kSacn) sacnSender->AddUniverse(send.to.number, PlayerSerial());
    }
  }
  if (sendsArtnet) {
    if (artnetTargets.empty()) {
      return FailUsage("--send to an Art-Net universe needs --artnet-target ADDRESS[:PORT] (a node or broadcast).");
    }
    artnetSocket = std::make_unique<UdpSocket>(io, [](const uint8_t*, size_t, const Endpoint&) {});
    if (!artnetSocket->Open(bind, 0, &error)) return Fail("Art-Net: " + error);
    artnetSender = std::make_unique<ArtnetNode>(artnetSocket.get(), &allow, artnetTargets, 6454, bind, log);
  }

  // The bridge's receivers, fed from the file. No sockets: they never
  // join or answer; polls in the file are not passed on.
  std::unique_ptr<SacnReceiver> sacnIn;
  std::unique_ptr<ArtnetNode> artnetIn;
  auto freshReceivers = [&] {
    // A recording plays as it was recorded: levels are not held back for
    // per-slot priorities that the file may not have.
    sacnIn = std::make_unique<SacnReceiver>(nullptr, &allow, false, log, std::chrono::milliseconds(0));
    artnetIn = std::make_unique<ArtnetNode>(nullptr, &allow, std::vector<Endpoint>{}, 6454, bind, log);
    for (auto& [universe, output] : universes) {
      if (universe.protocol == Protocol::kSacn)
        sacnIn->AddUniverse(output.get(), MergeRules{});
      else
        artnetIn->AddOutput(output.get(), MergeRules{});
    }
    // Our own sends, when a capture of them is played, are not taken.
    if (sacnSender) {
      for (const Send& send : sends) {
        if (send.to.protocol == Protocol::kSacn)
          sacnIn->IgnoreSource(MakeCid(HostName(), PlayerSerial(), send.to.number));
      }
    }
  };
  freshReceivers();

  for (const auto& port : interfaces) {
    std::string why;
    if (!port->TryOpen(&why)) return Fail(ombrix_tool::SerialText(port->serial()) + " " + why + ".");
  }

  auto stopped = [&hooks] { return ombrix_tool::StopRequested() || (hooks.stop && hooks.stop()); };
  MonotonicClock monotonic;
  PlayClock& clock = hooks.clock != nullptr ? *hooks.clock : monotonic;
  PlaySchedule schedule(static_cast<int64_t>(std::llround(fromSeconds * 1e9)),
                        toSeconds < 0 ? -1 : static_cast<int64_t>(std::llround(toSeconds * 1e9)), options.speed);
  LatenessHistogram lateness;
  uint64_t frames = 0, windowFrames = 0, windowLate = 0;
  int64_t startNs = clock.NowNs();
  int64_t nextTickNs = startNs, nextLookNs = startNs + kLookNs;
  int64_t statusNs = static_cast<int64_t>(options.statusSeconds * 1e9);
  int64_t nextStatusNs = startNs + (statusNs > 0 ? statusNs : INT64_MAX / 2);
  int64_t lastStatusNs = startNs;
  int64_t positionNs = 0;
  TimePoint trackerNow = AtNs(startNs);

  // After a packet reached a sent universe (or when forced): its merge goes out.
  auto sendChanged = [&](TimePoint now, bool force) {
    for (Send& send : sends) {
      if (!force && send.output->packets == send.packets) continue;
      send.packets = send.output->packets;
      if (send.to.protocol == Protocol::kSacn)
        sacnSender->SendLevels(send.to.number, send.output->shown(), now);
      else
        artnetSender->SendLevels(send.to.number, send.output->shown(), now);
    }
  };
  auto status = [&](int64_t now, bool final) {
    double seconds = (now - lastStatusNs) / 1e9;
    lastStatusNs = now;
    char line[256];
    snprintf(line, sizeof(line), "%s %s (loop %d): %.0f frames/s, %llu late (over 2 ms) of %llu, p99 lateness %.2f ms",
             final ? "played to" : "playing", ShowTimeText(positionNs).c_str(), schedule.loops() + 1,
             seconds > 0 ? windowFrames / seconds : 0.0, static_cast<unsigned long long>(windowLate),
             static_cast<unsigned long long>(windowFrames), lateness.QuantileMs(0.99));
    PlayLog(line);
    windowFrames = windowLate = 0;
  };
  // Between frames: the receivers' time-outs, the sockets, absent
  // interfaces, the status line, and the stop request.
  auto between = [&](int64_t now) {
    if (now >= nextTickNs) {
      nextTickNs = now + kTickNs;
      trackerNow = std::max(trackerNow, AtNs(now));
      sacnIn->Tick(trackerNow);
      artnetIn->Tick(trackerNow);
      io.poll();
    }
    if (now >= nextLookNs) {
      nextLookNs = now + kLookNs;
      for (const auto& port : interfaces) {
        if (port->CloseIfFailed()) PlayLog(ombrix_tool::SerialText(port->serial()) + " failed; looking for it");
        std::string why;
        if (!port->connected() && port->TryOpen(&why)) PlayLog(ombrix_tool::SerialText(port->serial()) + " is back");
      }
    }
    if (now >= nextStatusNs) {
      nextStatusNs = now + statusNs;
      status(now, false);
    }
    return !stopped();
  };

  int exitCode = 0;
  bool ended = false;  // the show's end reached (not stopped)
  while (!stopped()) {
    ShowDatagram datagram;
    int result = show.Next(&datagram, &error);
    if (result < 0) {
      exitCode = Fail(error);
      break;
    }
    PlaySchedule::Place place = result == 0 ? PlaySchedule::Place::kAfter : schedule.Locate(datagram.offsetNs);
    if (place == PlaySchedule::Place::kBefore) continue;
    if (place == PlaySchedule::Place::kAfter) {
      if (!options.loop) {
        ended = true;
        break;
      }
      schedule.NextLoop(show.lastIntervalNs(), result != 0);
      if (!show.Rewind(&error)) {
        exitCode = Fail(error);
        break;
      }
      freshReceivers();
      continue;
    }
    int64_t due = startNs + schedule.Due(datagram.offsetNs);
    int64_t now = WaitUntil(clock, due, kTickNs, between);
    if (now < due) break;  // stop requested
    schedule.Played(datagram.offsetNs);
    positionNs = datagram.offsetNs;
    int64_t late = now - due;
    lateness.Add(late);
    ++frames;
    ++windowFrames;
    if (late > kLateNs) ++windowLate;
    trackerNow = std::max(trackerNow, AtNs(due));
    const ombrix::protocols::UdpView& udp = datagram.udp;
    Endpoint sender(asio::ip::address_v4(udp.source), udp.sourcePort);
    if (datagram.protocol == ShowProtocol::kSacn) {
      sacnIn->OnDatagram(udp.payload, udp.size, sender, trackerNow);
    } else {
      // Only data and sync reach the node: polls and replies in a capture
      // are another node's business.
      ombrix::protocols::ArtnetPacket packet = ombrix::protocols::ParseArtnet(udp.payload, udp.size);
      if (std::holds_alternative<ombrix::protocols::ArtDmx>(packet) ||
          std::holds_alternative<ombrix::protocols::ArtSync>(packet)) {
        artnetIn->OnDatagram(udp.payload, udp.size, sender, trackerNow);
      }
    }
    sendChanged(trackerNow, false);
    if (hooks.onFrame) hooks.onFrame(due - startNs, now - startNs, datagram.offsetNs);
    between(now);
  }

  if (exitCode == 0 && ended) {
    if (options.blackout) {
      uint8_t zeros[512] = {};
      for (auto& [universe, output] : universes) output->Apply(zeros, 1, AtNs(clock.NowNs()));
      sendChanged(AtNs(clock.NowNs()), true);
      PlayLog("the show has ended; blackout");
      WaitUntil(clock, clock.NowNs() + kBlackoutHoldMs * 1000000LL, kTickNs, between);
    } else if (options.holdLast) {
      PlayLog("the show has ended; holding the last look until Ctrl-C or SIGTERM");
      while (!stopped()) {
        int64_t now = clock.NowNs();
        WaitUntil(clock, now + kTickNs, kTickNs, between);
        between(clock.NowNs());
        // A network receiver wants the source alive: the look again once a second.
        if (now / 1000000000 != clock.NowNs() / 1000000000) sendChanged(trackerNow, true);
      }
    }
  }
  status(clock.NowNs(), true);
  char summary[256];
  snprintf(summary, sizeof(summary),
           "%llu frames in %.1f s; lateness median %.2f ms, p99 %.2f ms, max %.2f ms; %llu late (over 2 ms); "
           "frames skipped: %s",
           static_cast<unsigned long long>(frames), (clock.NowNs() - startNs) / 1e9, lateness.QuantileMs(0.5),
           lateness.QuantileMs(0.99), lateness.MaxMs(), static_cast<unsigned long long>(lateness.Over(kLateNs)),
           show.skips().Text().c_str());
  PlayLog(summary);
  if (sacnSender) sacnSender->Terminate();
  io.poll();
  // The last look's blocks are still going out, one per USB frame: they
  // get their time before mode 0 closes the links.
  if (!interfaces.empty()) WaitUntil(clock, clock.NowNs() + kSettleNs, kTickNs, nullptr);
  if (options.reportSimulatedWire && api.simulated && api.OmbrixSimGetWrite != nullptr) {
    for (const Mapping& mapping : outs) ReportSimulatedWire(api, mapping, universes[mapping.universe]->shown());
  }
  for (const auto& port : interfaces) port->Close();
  if (exitCode == 0 && !interfaces.empty()) PlayLog("stopped: links closed, interfaces back to mode 0");
  return exitCode;
}

}  // namespace ombrix_capture
