// Builds the status snapshot from the bridge's parts: universes with their
// levels, owners and sources, the universes sent, the interfaces and the
// drop counters. It keeps the history a single look cannot give: rates
// over the last second, the device type of each interface, and sources that
// left lately (so the page can show them as terminated or timed out).
//
// Bridge thread only.
#ifndef OMBRIX_BRIDGE_HTTP_STATUS_COLLECTOR_H
#define OMBRIX_BRIDGE_HTTP_STATUS_COLLECTOR_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "input_stream.h"
#include "interface_port.h"
#include "output_universe.h"
#include "rate_meter.h"
#include "source_view.h"
#include "status_snapshot.h"

namespace ombrix_bridge {

class SacnReceiver;
class ArtnetNode;

// How long a source that left stays on the page.
constexpr std::chrono::seconds kGoneShownFor{10};

class StatusCollector {
 public:
  StatusCollector(const Api& api, const BridgeConfig& config, TimePoint started)
      : api_(api), config_(config), started_(started) {}

  StatusSnapshot Collect(const std::vector<std::unique_ptr<OutputUniverse>>& outputs,
                         const std::vector<std::unique_ptr<InputStream>>& inputs,
                         const std::vector<std::unique_ptr<InterfacePort>>& ports, const SacnReceiver& sacn,
                         const ArtnetNode& artnet, TimePoint now);

 private:
  struct Departed {
    SourceStatus source;
    TimePoint left{};
  };
  UniverseStatus Universe(const OutputUniverse& output, SourceView* view, TimePoint now);
  void NoteDepartures(const std::string& universe, const SourceView& view, TimePoint now,
                      std::vector<SourceStatus>* gone);
  InterfaceStatus Interface(const InterfacePort& port, TimePoint now);

  const Api& api_;
  const BridgeConfig& config_;
  const TimePoint started_;
  uint64_t sequence_ = 0;
  TimePoint lastCollect_{};
  TimePoint previousCollect_{};
  RateMeters rates_;
  struct KnownType {
    int type = 0;
    bool connected = false;  // at the last look
  };
  std::map<std::string, KnownType> types_;  // by serial, asked when it connects
  // Per universe: the sources present at the last look, by key, and those
  // that have left since.
  std::map<std::string, std::map<std::string, SourceStatus>> present_;
  std::map<std::string, std::map<std::string, Departed>> departed_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_STATUS_COLLECTOR_H
