#include "status_json.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace ombrix_bridge {
namespace {

using json = nlohmann::ordered_json;
using ombrix::protocols::DropKind;
using ombrix::protocols::DropKindName;

// Rates and ages to a tenth and a hundredth: enough for a display, and it
// keeps the text short.
double Rounded(double value, double step) { return std::round(value / step) * step; }

json Drops(const DropCounts& counts) {
  json drops = json::object();
  for (size_t kind = 0; kind < counts.size(); ++kind) {
    drops[DropKindName(static_cast<DropKind>(kind))] = counts[kind];
  }
  return drops;
}

json Source(const SourceStatus& source) {
  json out = {{"name", source.name},
              {"cid", source.cid},
              {"address", source.address},
              {"packets_per_second", Rounded(source.packetsPerSecond, 0.1)},
              {"packets", source.packets},
              {"sequence_errors", source.sequenceErrors},
              {"seconds_since_last", Rounded(source.secondsSinceLast, 0.01)},
              {"preview", source.preview},
              {"per_slot_priority", source.perSlotPriority},
              {"held", source.held},
              {"gone", source.gone.empty() ? json(nullptr) : json(source.gone)}};
  out["priority"] = source.priority < 0 ? json(nullptr) : json(source.priority);
  return out;
}

json Universe(const UniverseStatus& universe) {
  json sources = json::array();
  for (const SourceStatus& source : universe.sources) sources.push_back(Source(source));
  return {{"universe", universe.universe},
          {"protocol", universe.protocol},
          {"number", universe.number},
          {"packets_per_second", Rounded(universe.packetsPerSecond, 0.1)},
          {"fading", universe.fading},
          {"levels", universe.levels},
          {"owners", universe.owners},
          {"sources", std::move(sources)},
          {"interfaces", universe.interfaces},
          {"drops", Drops(universe.drops)}};
}

json Interface(const InterfaceStatus& interface) {
  return {{"serial", interface.serial},
          {"type", interface.type},
          {"connected", interface.connected},
          {"state", interface.connected ? "connected" : "looking"},
          {"mode", interface.mode},
          {"output", interface.output},
          {"input", interface.input},
          {"reports_out_per_second", Rounded(interface.reportsOutPerSecond, 0.1)},
          {"input_blocks_per_second", Rounded(interface.inputBlocksPerSecond, 0.1)}};
}

}  // namespace

std::string StatusJson(const StatusSnapshot& snapshot) {
  json universes = json::array(), sends = json::array(), interfaces = json::array();
  for (const UniverseStatus& universe : snapshot.universes) universes.push_back(Universe(universe));
  for (const SendStatus& send : snapshot.sends) {
    sends.push_back({{"universe", send.universe},
                     {"serial", send.serial},
                     {"packets_per_second", Rounded(send.packetsPerSecond, 0.1)}});
  }
  for (const InterfaceStatus& interface : snapshot.interfaces) interfaces.push_back(Interface(interface));
  json status = {{"version", snapshot.version},
                 {"uptime_seconds", Rounded(snapshot.uptimeSeconds, 0.1)},
                 {"sequence", snapshot.sequence},
                 {"universes", std::move(universes)},
                 {"sends", std::move(sends)},
                 {"interfaces", std::move(interfaces)},
                 {"drops", {{"sacn", Drops(snapshot.sacnDrops)}, {"artnet", Drops(snapshot.artnetDrops)}}}};
  return status.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace ombrix_bridge
