// `ombrix play`: a show (capture files) played through the bridge's receive
// path: each sACN and Art-Net datagram, when it is due, goes to the
// bridge's receivers (SacnReceiver, ArtnetNode) with their filters and
// merge (priority, HTP, sync), and from there to the universes mapped to
// interface outputs (--out, through OutputUniverse and InterfacePort) or
// re-sent on the network as this node (--send, through SacnSender and
// ArtnetNode).
#ifndef OMBRIX_CAPTURE_PLAYER_H
#define OMBRIX_CAPTURE_PLAYER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "client/session.h"
#include "play_schedule.h"

namespace ombrix_capture {

struct PlayOptions {
  std::vector<std::string> files;
  std::vector<std::string> outs;   // SERIAL=UNIVERSE
  std::vector<std::string> sends;  // UNIVERSE[=UNIVERSE]
  bool loop = false;
  double speed = 1.0;
  std::string from;  // seconds or mm:ss; empty: the start
  std::string to;    // empty: the end
  bool holdLast = false;
  bool blackout = false;
  int mode = 2;
  std::string bind = "0.0.0.0";
  std::vector<std::string> sacnTargets;
  std::vector<std::string> artnetTargets;
  bool unicastOnly = false;
  int priority = 100;
  std::vector<std::string> allow;
  std::vector<int> sacnPorts;    // more ports that carry sACN in the files
  std::vector<int> artnetPorts;  // ... and Art-Net
  double statusSeconds = 10;
  // On the simulator: say at the end whether each interface's wire carries
  // its universe's last look (the benchmark empties the log and turns it off).
  bool reportSimulatedWire = true;
};

// What a test or the benchmark watches; the command passes none.
struct PlayHooks {
  PlayClock* clock = nullptr;  // null: the monotonic clock
  // Each frame played: its due time and when it was applied, both from
  // the start of playback, and its place in the show.
  std::function<void(int64_t dueNs, int64_t appliedNs, int64_t offsetNs)> onFrame;
  // Asked between frames as well as the stop request of Ctrl-C: true ends
  // playback as a stop would.
  std::function<bool()> stop;
};

int RunPlay(const ombrix_tool::Api& api, const PlayOptions& options, const PlayHooks& hooks = {});

}  // namespace ombrix_capture

#endif  // OMBRIX_CAPTURE_PLAYER_H
