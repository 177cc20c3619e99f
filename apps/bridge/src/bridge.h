// The running bridge: the sockets, receivers and senders of both
// protocols, the interfaces, and the bridge thread's timers, all driven by
// one Asio io_context on the thread that calls Run(). The library's threads
// only ever post a wake-up to it.
#ifndef OMBRIX_BRIDGE_BRIDGE_H
#define OMBRIX_BRIDGE_BRIDGE_H

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "allow_list.h"
#include "artnet_node.h"
#include "bridge_config.h"
#include "http/status_page.h"
#include "input_stream.h"
#include "node_state.h"
#include "interface_port.h"
#include "output_universe.h"
#include "sacn_receiver.h"
#include "sacn_sender.h"
#include "status_line.h"
#include "udp_socket.h"

namespace ombrix_bridge {

struct BridgeTiming {
  std::chrono::milliseconds tick{20};       // time-outs, fades, keep-alives
  std::chrono::milliseconds look{1000};     // absent interfaces
  std::chrono::milliseconds status{10000};  // status line
  std::chrono::milliseconds discovery{10000};
  // A universe's sources are gathered this long before its output is
  // touched (at start, and for a universe that is added).
  std::chrono::milliseconds sampling{1500};
  // A new sACN source's levels wait this long for its per-slot priorities.
  std::chrono::milliseconds prioritiesWait{ombrix::protocols::kSacnPrioritiesWait};
};

class Bridge {
 public:
  // multicast false: no group joins and no multicast sends (unicast only).
  Bridge(const ombrix_tool::Api& api, const BridgeConfig& config, bool multicast, BridgeTiming timing = {});
  ~Bridge();

  // Opens the sockets and every interface that is attached. On failure
  // error gets a sentence and nothing stays open.
  bool Start(std::string* error);
  // Runs until SIGINT or SIGTERM, then stops cleanly: sACN streams
  // terminated, links closed (interfaces back to mode 0), sockets closed.
  void Run();
  // Any thread: ends Run() as SIGTERM would.
  void RequestStop();

  // Datagrams refused before they reached a universe (relaxed atomics: any
  // thread may read them once Start has returned).
  const ombrix::protocols::DropCounters& ProtocolDrops(Protocol protocol) const;
  // Drops of one configured network universe; null when not configured.
  const ombrix::protocols::DropCounters* UniverseDrops(const NetworkUniverse& universe) const;
  // The status page's TCP port once Start has returned; 0 without --http.
  int HttpPort() const { return page_ ? page_->port() : 0; }

 private:
  void Wake();  // any thread
  void OnWake();
  void ServiceWake();
  void CloseFailedLinks();
  // The sACN universes fed by a port that has gone are terminated.
  void TerminateInputs(InterfacePort* port);
  void StartTimer(asio::steady_timer& timer, std::chrono::milliseconds period, void (Bridge::*step)());
  void Tick();
  void LookForInterfaces();
  void ServiceInputs();
  void SendInputs();
  void PrintStatus();
  void SendDiscovery();
  void Stop();
  InterfacePort* PortFor(const Serial& serial);
  // The node's state file: read and applied at start, written whenever a
  // console changes the node or scenes are recorded (bridge_state.cpp).
  void LoadState();
  void ApplyState();
  void SaveState();
  void InputRepatched(uint16_t from, uint16_t to);
  // With --record-scene: once every output has been driven (or 10 s after
  // start), their looks become their fail-safe scenes.
  void RecordScenesWhenDriven(TimePoint now);

  // Everything below belongs to the bridge thread (the one in Run) unless
  // its comment says otherwise.
  const ombrix_tool::Api& api_;
  const BridgeConfig config_;
  const bool multicast_;
  BridgeTiming timing_;
  asio::io_context io_;
  asio::signal_set signals_{io_, SIGINT, SIGTERM};
  asio::steady_timer tickTimer_{io_}, lookTimer_{io_}, statusTimer_{io_}, discoveryTimer_{io_}, sendTimer_{io_},
      holdoffTimer_{io_};
  AllowList allow_;
  std::unique_ptr<UdpSocket> sacnSocket_, artnetSocket_;
  std::unique_ptr<SacnReceiver> sacnReceiver_;
  std::unique_ptr<SacnSender> sacnSender_;
  std::unique_ptr<ArtnetNode> artnetNode_;
  std::vector<std::unique_ptr<InterfacePort>> ports_;
  std::vector<std::unique_ptr<OutputUniverse>> outputs_;
  std::vector<std::unique_ptr<InputStream>> inputs_;
  StatusLine status_;
  std::unique_ptr<StatusPage> page_;  // with --http
  TimePoint lastStatus_{};
  NodeState state_;
  bool stateUnsavedTold_ = false;  // told once that changes are not kept without --state
  bool scenesPending_ = false;     // --record-scene, not yet done
  TimePoint started_{};
  bool stopped_ = false;
  // Set by library threads when they post a wake-up, cleared by the bridge
  // thread when it runs it: one wake-up in flight at a time.
  std::atomic<bool> wakePending_{false};
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_BRIDGE_H
