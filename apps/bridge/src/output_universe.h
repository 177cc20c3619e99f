// A network universe that drives interface outputs: it takes each new merge
// of the universe's sources and writes it to every interface mapped to it,
// and decides what the outputs show once every source is gone (the
// fail-safe): the last look held (the default, as a lighting node is
// expected to do), a fade to zero over a configured time, zero or full at
// once, or a scene recorded beforehand.
//
// Bridge thread only.
#ifndef OMBRIX_BRIDGE_OUTPUT_UNIVERSE_H
#define OMBRIX_BRIDGE_OUTPUT_UNIVERSE_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bridge_config.h"
#include "interface_port.h"
#include "protocols/artnet_packet.h"
#include "protocols/drops.h"
#include "protocols/merge_mode.h"
#include "protocols/tracking.h"

namespace ombrix_bridge {

using ombrix::protocols::TimePoint;
using Look = std::array<uint8_t, 512>;

class OutputUniverse {
 public:
  OutputUniverse(const NetworkUniverse& universe, LossPolicy loss, double fadeSeconds)
      : universe_(universe), configured_(universe), loss_(loss), fadeSeconds_(fadeSeconds) {}

  void AddPort(InterfacePort* port) { ports_.push_back(port); }

  // The sampling period of a universe that was just added: until `until`
  // the receivers gather its sources without touching the output, so that
  // the merge starts with every source heard rather than with whichever
  // came first (a backup desk heard before the main desk's keep-alive).
  void StartSampling(TimePoint until) { samplingUntil_ = until; }
  // A source heard during sampling whose levels still wait for its per-slot
  // priorities keeps the period open until that wait ends: otherwise the
  // source heard a moment earlier would be shown alone for that moment.
  void ExtendSampling(TimePoint until, TimePoint now) {
    if (Sampling(now) && until > samplingUntil_) samplingUntil_ = until;
  }
  bool Sampling(TimePoint now) const { return now < samplingUntil_; }

  // A new merge: levels of every slot and the number of sources driving
  // any slot (0: all lost). Returns a sentence for the log when the
  // universe lost its last source or got one back, else an empty string.
  std::string Apply(const uint8_t levels[512], size_t sources, TimePoint now);
  // Moves a fade on; call every few tens of milliseconds.
  void Tick(TimePoint now);

  // The fail-safe from now on; one already showing is not changed until
  // the sources come back and go again.
  void SetLoss(LossPolicy loss) { loss_ = loss; }
  LossPolicy loss() const { return loss_; }
  // The levels shown now become the scene the kScene fail-safe shows.
  void RecordScene() { scene_ = shown_; }
  void SetScene(const Look& scene) { scene_ = scene; }
  const std::optional<Look>& scene() const { return scene_; }
  // Zero on every slot now (a console's "clear output"); the next merge
  // writes the sources' levels again.
  void Clear();

  const NetworkUniverse& universe() const { return universe_; }
  // A re-patch: the universe is received under another number from now on.
  void Renumber(const NetworkUniverse& universe) { universe_ = universe; }
  // The universe the configuration gives it, whatever re-patches since.
  const NetworkUniverse& configured() const { return configured_; }
  // Whether a source has driven the output since it started.
  bool everDriven() const { return everDriven_; }
  bool fading() const { return fading_; }
  // Every source has gone and the fail-safe shows.
  bool failSafe() const { return failSafe_; }
  const std::vector<InterfacePort*>& ports() const { return ports_; }
  // The levels last written to the interfaces (for the status page).
  const Look& shown() const { return shown_; }

  // Counted by the receiver of the universe's protocol; read by the status line.
  uint64_t packets = 0;
  size_t sources = 0;
  ombrix::protocols::DropCounters drops;
  // Why the universe (or a sync group its sources use) could not be joined
  // by multicast; empty when it is joined. Set by the receiver, shown by
  // the status line and page.
  std::string joinError;

 private:
  void Write(const uint8_t levels[512]);
  // Starts the fail-safe; returns what it does, for the log.
  std::string ShowFailSafe(TimePoint now);

  NetworkUniverse universe_;
  NetworkUniverse configured_;
  LossPolicy loss_;
  double fadeSeconds_;
  std::vector<InterfacePort*> ports_;
  Look look_{};  // the last merged levels with a source present
  Look shown_{};
  std::optional<Look> scene_;
  bool fading_ = false;
  bool failSafe_ = false;
  bool driven_ = false;  // some source drove a slot at the last merge
  bool everDriven_ = false;
  TimePoint fadeStart_{};
  TimePoint samplingUntil_{};
};

// A sentence for the log when a backup universe changes desk.
std::string BackupText(const NetworkUniverse& universe, ombrix::protocols::BackupSwitch::State state);
// The fail-safe as an Art-Net poll reply's Status3 says it (bits 7-6).
uint8_t Status3Failsafe(LossPolicy loss);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_OUTPUT_UNIVERSE_H
