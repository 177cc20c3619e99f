#include "bridge_config.h"

#include <cstdlib>
#include <map>
#include <set>

#include "allow_list.h"
#include "network_choice.h"
#include "udp_socket.h"
#include "universe_settings.h"

namespace ombrix_bridge {

int ModeFor(const BridgeConfig& config, const Serial& serial) {
  for (const InterfaceMode& mode : config.modes) {
    if (mode.serial == serial) return mode.mode;
  }
  for (const Mapping& mapping : config.mappings) {
    if (mapping.serial == serial && mapping.direction == Direction::kOut) return config.mode;
  }
  return 0;
}

bool ParseMapping(const std::string& text, Direction direction, Mapping* mapping, std::string* error) {
  size_t equals = text.find('=');
  if (equals == std::string::npos) {
    *error = "\"" + text + "\" is not SERIAL=UNIVERSE (for example SIM0000000000001=sacn:1).";
    return false;
  }
  if (!ombrix_tool::ParseSerial(text.substr(0, equals), &mapping->serial, error)) return false;
  mapping->direction = direction;
  return ParseUniverse(text.substr(equals + 1), &mapping->universe, error);
}

bool CheckConfig(const BridgeConfig& config, std::string* error) {
  if (config.mappings.empty()) {
    *error = "Nothing to bridge: give at least one --out or --in mapping, or a --config file with some.";
    return false;
  }
  std::map<Serial, NetworkUniverse> outputs;
  std::set<std::pair<Serial, NetworkUniverse>> inputs;
  for (const Mapping& mapping : config.mappings) {
    const std::string serial = ombrix_tool::SerialText(mapping.serial);
    if (mapping.direction == Direction::kOut) {
      auto [it, added] = outputs.emplace(mapping.serial, mapping.universe);
      if (!added && !(it->second == mapping.universe)) {
        *error = "The interface " + serial + " has one output but two universes are mapped to it (" +
                 UniverseText(it->second) + " and " + UniverseText(mapping.universe) + ").";
        return false;
      }
    } else if (!inputs.emplace(mapping.serial, mapping.universe).second) {
      *error = "The input of " + serial + " is mapped to " + UniverseText(mapping.universe) + " twice.";
      return false;
    }
  }
  // One interface's input per network universe: two would be two sources of
  // one universe from one node, each with a look of its own, which receivers
  // merge slot by slot; nobody patches that on purpose, and it is refused
  // rather than sent as a flickering mix.
  std::map<NetworkUniverse, Serial> fedBy;
  for (const auto& input : inputs) {
    auto [it, added] = fedBy.emplace(input.second, input.first);
    if (!added) {
      *error = UniverseText(input.second) + " is given the input of both " + ombrix_tool::SerialText(it->second) +
               " and " + ombrix_tool::SerialText(input.first) + "; a universe carries the input of one interface.";
      return false;
    }
  }
  for (const auto& input : inputs) {
    for (const auto& output : outputs) {
      if (input.second == output.second) {
        *error = UniverseText(input.second) + " is both sent (from " + ombrix_tool::SerialText(input.first) +
                 ") and received (by " + ombrix_tool::SerialText(output.first) + "): the bridge would hear itself.";
        return false;
      }
    }
  }
  if (config.mode < 0 || config.mode > 255) {
    *error = "The mode " + std::to_string(config.mode) + " is out of range; modes are 0 to 255.";
    return false;
  }
  if (config.priority < 0 || config.priority > 200) {
    *error = "The sACN priority " + std::to_string(config.priority) + " is out of range; it is 0 to 200.";
    return false;
  }
  for (int port : {config.sacnPort, config.artnetPort}) {
    if (port < 1 || port > 65535) {
      *error = "The port " + std::to_string(port) + " is out of range; ports are 1 to 65535.";
      return false;
    }
  }
  if (config.sacnPort == config.artnetPort) {
    *error = "sACN and Art-Net cannot share port " + std::to_string(config.sacnPort) + ".";
    return false;
  }
  if (config.loss == LossPolicy::kFade && !(config.fadeSeconds > 0 && config.fadeSeconds <= 3600)) {
    *error = "The fade time must be more than 0 and at most 3600 seconds.";
    return false;
  }
  if (!config.bind.empty() && !LooksLikeInterfaceName(config.bind) && !CheckAddress(config.bind, error)) {
    *error = "--bind " + config.bind + " is neither an address nor an interface name.";
    return false;
  }
  Endpoint endpoint;
  for (const auto* targets : {&config.sacnTargets, &config.artnetTargets}) {
    for (const std::string& target : *targets) {
      if (!ParseEndpoint(target, 1, &endpoint, error)) return false;
    }
  }
  if (config.recordScene && config.stateFile.empty()) {
    *error = "--record-scene keeps the scenes in the node's state file: give --state FILE as well.";
    return false;
  }
  AllowList allow, manage;
  if (!config.manage.empty() && !manage.Parse(config.manage, error)) return false;
  return allow.Parse(config.allow, error) && CheckUniverseSettings(config, error);
}

}  // namespace ombrix_bridge
