// Reading typed keys of the bridge's TOML file, with errors that name the
// file, the line and the key. Shared by the parts of the file's reader.
#ifndef OMBRIX_BRIDGE_CONFIG_TOML_H
#define OMBRIX_BRIDGE_CONFIG_TOML_H

#include <toml++/toml.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace ombrix_bridge::config_toml {

inline std::string Where(const std::string& path, const toml::node& node) {
  return path + " line " + std::to_string(node.source().begin.line);
}

// Reads a key of one type; a key of another type is an error.
template <typename T, typename Out>
inline bool Read(const toml::table& table, const char* key, const std::string& path, Out* out, std::string* error) {
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
inline bool ReadStrings(const toml::table& table, const char* key, const std::string& path,
                        std::vector<std::string>* out, std::string* error) {
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

inline bool CheckKeys(const toml::table& table, const std::set<std::string>& known, const std::string& path,
                      std::string* error) {
  for (const auto& [key, node] : table) {
    if (known.count(std::string(key.str())) == 0) {
      *error = Where(path, node) + ": unknown key \"" + std::string(key.str()) + "\".";
      return false;
    }
  }
  return true;
}

// Calls read for each table of an array of tables ([[name]]); anything
// else under that key is an error.
template <typename ReadTable>
inline bool ReadTables(const toml::table& root, const char* key, const std::string& path, std::string* error,
                       ReadTable read) {
  const toml::node* node = root.get(key);
  if (node == nullptr) return true;
  const toml::array* array = node->as_array();
  for (size_t i = 0; array != nullptr && i < array->size(); ++i) {
    const toml::table* table = (*array)[i].as_table();
    if (table == nullptr) {
      array = nullptr;
      break;
    }
    if (!read(*table)) return false;
  }
  if (array == nullptr) *error = Where(path, *node) + ": write each " + key + " as a [[" + key + "]] table.";
  return array != nullptr;
}

}  // namespace ombrix_bridge::config_toml

#endif  // OMBRIX_BRIDGE_CONFIG_TOML_H
