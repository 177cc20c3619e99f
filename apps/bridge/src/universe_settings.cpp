#include "universe_settings.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "config_toml.h"
#include "slot_priorities.h"

namespace ombrix_bridge {

using namespace config_toml;
using ombrix::protocols::MergeMode;
using ombrix::protocols::MergeRules;

namespace {

// A CID is matched as the status page shows it, in lower case; names and
// addresses are matched as given.
std::string Normalised(std::string name) {
  bool cid = name.size() == 36 && std::all_of(name.begin(), name.end(), [](char c) {
               return c == '-' || std::isxdigit(static_cast<unsigned char>(c));
             });
  if (cid) std::transform(name.begin(), name.end(), name.begin(), [](char c) { return std::tolower(c); });
  return name;
}

bool ReadNames(const toml::table& table, const char* key, const std::string& path, std::vector<std::string>* out,
               std::string* error) {
  if (!ReadStrings(table, key, path, out, error)) return false;
  for (std::string& name : *out) name = Normalised(name);
  return true;
}

bool ReadMerge(const toml::table& table, const std::string& path, UniverseSettings* settings, std::string* error) {
  std::string mode;
  MergeRules rules;
  std::vector<std::string> sources;
  double takeback = 0;
  if (!Read<std::string>(table, "merge", path, &mode, error) ||
      !ReadNames(table, "primary", path, &rules.primary, error) ||
      !ReadNames(table, "backup", path, &rules.backup, error) || !ReadNames(table, "sources", path, &sources, error) ||
      !Read<double>(table, "takeback_seconds", path, &takeback, error)) {
    return false;
  }
  std::string where =
      path + " line " + std::to_string(table.source().begin.line) + ": " + UniverseText(settings->universe);
  bool named = !rules.primary.empty() || !rules.backup.empty() || !sources.empty() || table.get("takeback_seconds");
  if (mode.empty()) {
    if (!named) return true;
    *error = where + " names sources but no merge = \"backup\" or \"only\" to use them.";
    return false;
  }
  if (!ombrix::protocols::ParseMergeMode(mode, &rules.mode)) {
    *error = where + ": \"merge\" is \"htp\", \"ltp\", \"backup\" or \"only\", not \"" + mode + "\".";
    return false;
  }
  bool backup = rules.mode == MergeMode::kBackup, only = rules.mode == MergeMode::kOnly;
  if (backup && (rules.primary.empty() || rules.backup.empty())) {
    *error = where + ": merge = \"backup\" needs both \"primary\" and \"backup\" (a CID, source name or address).";
    return false;
  }
  if (only && sources.empty()) {
    *error = where + ": merge = \"only\" needs \"sources\" (CIDs, source names or addresses).";
    return false;
  }
  if ((!backup && (!rules.primary.empty() || !rules.backup.empty() || table.get("takeback_seconds"))) ||
      (!only && !sources.empty())) {
    *error = where + ": primary, backup and takeback_seconds go with merge = \"backup\", sources with \"only\".";
    return false;
  }
  if (takeback < 0 || takeback > 3600) {
    *error = where + ": takeback_seconds is 0 to 3600.";
    return false;
  }
  if (only) rules.primary = sources;
  rules.takeback = std::chrono::milliseconds(static_cast<int64_t>(takeback * 1000 + 0.5));
  settings->merge = rules;
  return true;
}

}  // namespace

bool ReadUniverseSettings(const toml::table& table, const std::string& path, BridgeConfig* config, std::string* error) {
  if (!CheckKeys(table,
                 {"universe", "merge", "primary", "backup", "sources", "takeback_seconds", "loss", "fade_seconds",
                  "priorities"},
                 path, error)) {
    return false;
  }
  std::string where = path + " line " + std::to_string(table.source().begin.line);
  UniverseSettings settings;
  std::string universe, loss;
  if (!Read<std::string>(table, "universe", path, &universe, error)) return false;
  if (universe.empty()) {
    *error = where + ": a [[universe]] needs its universe (\"sacn:1\" or \"artnet:0:0:1\").";
    return false;
  }
  if (!ParseUniverse(universe, &settings.universe, error)) {
    *error = where + ": " + *error;
    return false;
  }
  if (!ReadMerge(table, path, &settings, error) || !Read<std::string>(table, "loss", path, &loss, error)) return false;
  if (!loss.empty()) {
    LossPolicy policy;
    if (!ParseLossPolicy(loss, &policy)) {
      *error = where + ": \"loss\" is " + kLossPolicyChoices + ", not \"" + loss + "\".";
      return false;
    }
    settings.loss = policy;
  }
  std::string priorities;
  if (!Read<std::string>(table, "priorities", path, &priorities, error)) return false;
  if (table.get("priorities")) {
    SlotPriorities parsed;
    if (!ParseSlotPriorities(priorities, &parsed, error)) {
      *error = where + ": " + *error;
      return false;
    }
    settings.priorities = parsed;
  }
  if (table.get("fade_seconds")) {
    double seconds = 0;
    if (!Read<double>(table, "fade_seconds", path, &seconds, error)) return false;
    settings.fadeSeconds = seconds;
  }
  config->universes.push_back(settings);
  return true;
}

bool AddSlotPriorities(const std::string& text, BridgeConfig* config, std::string* error) {
  size_t equals = text.find('=');
  NetworkUniverse universe;
  if (equals == std::string::npos || !ParseUniverse(text.substr(0, equals), &universe, error)) {
    *error = "--priorities takes UNIVERSE=SLOTS:PRIORITY,..., as \"sacn:5=1-48:100,49-512:0\", not \"" + text + "\".";
    return false;
  }
  SlotPriorities priorities;
  if (!ParseSlotPriorities(text.substr(equals + 1), &priorities, error)) return false;
  for (UniverseSettings& settings : config->universes) {
    if (settings.universe == universe) {
      settings.priorities = priorities;
      return true;
    }
  }
  UniverseSettings settings;
  settings.universe = universe;
  settings.priorities = priorities;
  config->universes.push_back(settings);
  return true;
}

bool CheckUniverseSettings(const BridgeConfig& config, std::string* error) {
  std::set<NetworkUniverse> seen;
  for (const UniverseSettings& settings : config.universes) {
    const std::string name = UniverseText(settings.universe);
    if (!seen.insert(settings.universe).second) {
      *error = name + " has two [[universe]] tables; give its settings in one.";
      return false;
    }
    bool output = std::any_of(config.mappings.begin(), config.mappings.end(), [&](const Mapping& mapping) {
      return mapping.direction == Direction::kOut && mapping.universe == settings.universe;
    });
    bool outputSettings = settings.merge || settings.loss || settings.fadeSeconds;
    if (outputSettings && !output) {
      *error = name + " has merge or loss settings, but no interface outputs it.";
      return false;
    }
    bool sent = std::any_of(config.mappings.begin(), config.mappings.end(), [&](const Mapping& mapping) {
      return mapping.direction == Direction::kIn && mapping.universe == settings.universe;
    });
    if (settings.priorities && (settings.universe.protocol != Protocol::kSacn || !sent)) {
      *error = name + " has per-slot priorities, but they go with an sACN universe an interface's input is sent on.";
      return false;
    }
    if (settings.fadeSeconds && !(*settings.fadeSeconds > 0 && *settings.fadeSeconds <= 3600)) {
      *error = name + ": fade_seconds must be more than 0 and at most 3600.";
      return false;
    }
  }
  return true;
}

std::optional<SlotPriorities> PrioritiesFor(const BridgeConfig& config, const NetworkUniverse& universe) {
  for (const UniverseSettings& own : config.universes) {
    if (own.universe == universe) return own.priorities;
  }
  return std::nullopt;
}

OutputSettings SettingsFor(const BridgeConfig& config, const NetworkUniverse& universe) {
  OutputSettings settings;
  settings.merge.mode = config.merge;
  settings.loss = config.loss;
  settings.fadeSeconds = config.fadeSeconds;
  for (const UniverseSettings& own : config.universes) {
    if (!(own.universe == universe)) continue;
    if (own.merge) settings.merge = *own.merge;
    if (own.loss) settings.loss = *own.loss;
    if (own.fadeSeconds) settings.fadeSeconds = *own.fadeSeconds;
  }
  return settings;
}

}  // namespace ombrix_bridge
