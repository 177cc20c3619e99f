// The TOML configuration file. Every key is optional except the serial of
// an [[interface]]; an unknown key is an error rather than silently
// ignored, because a misspelt key in a show file must not go unnoticed.
#include <toml++/toml.h>

#include <set>

#include "bridge_config.h"
#include "config_toml.h"
#include "universe_settings.h"

namespace ombrix_bridge {
namespace {

using namespace config_toml;

bool ReadInterface(const toml::table& table, const std::string& path, BridgeConfig* config, std::string* error) {
  if (!CheckKeys(table, {"serial", "mode", "out", "in"}, path, error)) return false;
  std::string serialText;
  if (!Read<std::string>(table, "serial", path, &serialText, error)) return false;
  std::string where = path + " line " + std::to_string(table.source().begin.line);
  if (serialText.empty()) {
    *error = where + ": an [[interface]] needs its serial.";
    return false;
  }
  Mapping mapping;
  if (!ombrix_tool::ParseSerial(serialText, &mapping.serial, error)) {
    *error = where + ": " + *error;
    return false;
  }
  if (table.get("mode") != nullptr) {
    InterfaceMode mode{mapping.serial, 0};
    if (!Read<int64_t>(table, "mode", path, &mode.mode, error)) return false;
    if (mode.mode < 0 || mode.mode > 255) {
      *error = where + ": the mode " + std::to_string(mode.mode) + " is out of range; modes are 0 to 255.";
      return false;
    }
    config->modes.push_back(mode);
  }
  for (auto [key, direction] : {std::pair{"out", Direction::kOut}, std::pair{"in", Direction::kIn}}) {
    std::vector<std::string> universes;
    if (!ReadStrings(table, key, path, &universes, error)) return false;
    for (const std::string& text : universes) {
      mapping.direction = direction;
      if (!ParseUniverse(text, &mapping.universe, error)) {
        *error = where + ": " + *error;
        return false;
      }
      config->mappings.push_back(mapping);
    }
  }
  return true;
}

bool ReadTop(const toml::table& root, const std::string& path, BridgeConfig* config, std::string* error) {
  if (!CheckKeys(root,
                 {"bind", "mode", "sacn_port", "artnet_port", "sacn_targets", "artnet_targets", "allow", "priority",
                  "loss", "fade_seconds", "interface", "http", "http_hosts", "merge", "universe", "manage", "state",
                  "artnet_broadcast"},
                 path, error)) {
    return false;
  }
  std::string loss, merge;
  bool ok = Read<std::string>(root, "merge", path, &merge, error) &&
            Read<std::string>(root, "bind", path, &config->bind, error) &&
            Read<int64_t>(root, "mode", path, &config->mode, error) &&
            Read<int64_t>(root, "sacn_port", path, &config->sacnPort, error) &&
            Read<int64_t>(root, "artnet_port", path, &config->artnetPort, error) &&
            Read<int64_t>(root, "priority", path, &config->priority, error) &&
            Read<double>(root, "fade_seconds", path, &config->fadeSeconds, error) &&
            Read<std::string>(root, "loss", path, &loss, error) &&
            Read<std::string>(root, "http", path, &config->http, error) &&
            ReadStrings(root, "sacn_targets", path, &config->sacnTargets, error) &&
            ReadStrings(root, "artnet_targets", path, &config->artnetTargets, error) &&
            ReadStrings(root, "allow", path, &config->allow, error) &&
            ReadStrings(root, "http_hosts", path, &config->httpHosts, error) &&
            ReadStrings(root, "manage", path, &config->manage, error) &&
            Read<std::string>(root, "state", path, &config->stateFile, error) &&
            Read<bool>(root, "artnet_broadcast", path, &config->artnetBroadcast, error);
  if (!ok) return false;
  if (!loss.empty() && !ParseLossPolicy(loss, &config->loss)) {
    *error = Where(path, *root.get("loss")) + ": \"loss\" is " + kLossPolicyChoices + ", not \"" + loss + "\".";
    return false;
  }
  if (!merge.empty() && (!ombrix::protocols::ParseMergeMode(merge, &config->merge) ||
                         config->merge == ombrix::protocols::MergeMode::kBackup ||
                         config->merge == ombrix::protocols::MergeMode::kOnly)) {
    *error = Where(path, *root.get("merge")) + ": \"merge\" for every universe is \"htp\" or \"ltp\", not \"" + merge +
             "\"; \"backup\" and \"only\" name sources in a [[universe]] table.";
    return false;
  }
  return ReadTables(root, "interface", path, error,
                    [&](const toml::table& table) { return ReadInterface(table, path, config, error); }) &&
         ReadTables(root, "universe", path, error,
                    [&](const toml::table& table) { return ReadUniverseSettings(table, path, config, error); });
}

}  // namespace

bool LoadConfigFile(const std::string& path, BridgeConfig* config, std::string* error) {
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& failure) {
    if (failure.source().begin.line == 0) {
      *error = "The configuration file " + path + " could not be read (" + std::string(failure.description()) + ").";
    } else {
      *error = path + " line " + std::to_string(failure.source().begin.line) + ": " +
               std::string(failure.description()) + ".";
    }
    return false;
  }
  return ReadTop(root, path, config, error);
}

}  // namespace ombrix_bridge
