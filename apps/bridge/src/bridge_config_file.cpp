// The TOML configuration file. Every key is optional except the serial of
// an [[interface]]; an unknown key is an error rather than silently
// ignored, because a misspelt key in a show file must not go unnoticed.
#include <toml++/toml.h>

#include <set>

#include "bridge_config.h"

namespace ombrix_bridge {
namespace {

std::string Where(const std::string& path, const toml::node& node) {
  return path + " line " + std::to_string(node.source().begin.line);
}

// Reads a key of one type; a key of another type is an error.
template <typename T, typename Out>
bool Read(const toml::table& table, const char* key, const std::string& path, Out* out, std::string* error) {
  const toml::node* node = table.get(key);
  if (node == nullptr) return true;
  std::optional<T> value = node->value_exact<T>();
  if constexpr (std::is_same_v<T, double>) {
    if (!value && node->is_integer()) value = static_cast<double>(*node->value<int64_t>());
  }
  if (!value) {
    *error = Where(path, *node) + ": \"" + key + "\" has the wrong type.";
    return false;
  }
  if constexpr (std::is_same_v<T, int64_t>) {
    if (*value < INT32_MIN || *value > INT32_MAX) {
      *error = Where(path, *node) + ": \"" + key + "\" is out of range.";
      return false;
    }
    *out = static_cast<Out>(*value);
  } else {
    *out = *value;
  }
  return true;
}

// A string or an array of strings.
bool ReadStrings(const toml::table& table, const char* key, const std::string& path, std::vector<std::string>* out,
                 std::string* error) {
  const toml::node* node = table.get(key);
  if (node == nullptr) return true;
  if (auto text = node->value_exact<std::string>()) {
    out->push_back(*text);
    return true;
  }
  const toml::array* array = node->as_array();
  bool ok = array != nullptr;
  for (size_t i = 0; ok && i < array->size(); ++i) {
    auto text = (*array)[i].value_exact<std::string>();
    if (text) out->push_back(*text);
    ok = text.has_value();
  }
  if (!ok) *error = Where(path, *node) + ": \"" + key + "\" must be a string or a list of strings.";
  return ok;
}

bool CheckKeys(const toml::table& table, const std::set<std::string>& known, const std::string& path,
               std::string* error) {
  for (const auto& [key, node] : table) {
    if (known.count(std::string(key.str())) == 0) {
      *error = Where(path, node) + ": unknown key \"" + std::string(key.str()) + "\".";
      return false;
    }
  }
  return true;
}

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
                  "loss", "fade_seconds", "interface", "http", "http_hosts"},
                 path, error)) {
    return false;
  }
  std::string loss;
  bool ok = Read<std::string>(root, "bind", path, &config->bind, error) &&
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
            ReadStrings(root, "http_hosts", path, &config->httpHosts, error);
  if (!ok) return false;
  if (loss == "hold")
    config->loss = LossPolicy::kHold;
  else if (loss == "fade")
    config->loss = LossPolicy::kFade;
  else if (!loss.empty()) {
    *error = Where(path, *root.get("loss")) + ": \"loss\" is \"hold\" or \"fade\", not \"" + loss + "\".";
    return false;
  }
  const toml::node* interfaces = root.get("interface");
  if (interfaces == nullptr) return true;
  const toml::array* array = interfaces->as_array();
  if (array == nullptr) {
    *error = Where(path, *interfaces) + ": write each interface as an [[interface]] table.";
    return false;
  }
  for (const toml::node& node : *array) {
    const toml::table* table = node.as_table();
    if (table == nullptr) {
      *error = Where(path, node) + ": write each interface as an [[interface]] table.";
      return false;
    }
    if (!ReadInterface(*table, path, config, error)) return false;
  }
  return true;
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
