// Names of network universes and fail-safes, as the command line, the
// configuration file and the state file write them. Kept apart from the
// rest of the configuration so that the state file's reader (and its fuzz
// harness) need nothing else.
#include <cstdlib>
#include <string>
#include <vector>

#include "bridge_config.h"

namespace ombrix_bridge {
namespace {

bool ParseNumber(const std::string& text, long low, long high, long* value) {
  if (text.empty() || text.size() > 6) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  long number = strtol(text.c_str(), nullptr, 10);
  if (number < low || number > high) return false;
  *value = number;
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

constexpr const char* kLossNames[] = {"hold", "fade", "zero", "full", "scene"};

}  // namespace

std::string UniverseText(const NetworkUniverse& universe) {
  if (universe.protocol == Protocol::kSacn) return "sacn:" + std::to_string(universe.number);
  return "artnet:" + std::to_string(universe.number >> 8) + ":" + std::to_string((universe.number >> 4) & 0xF) + ":" +
         std::to_string(universe.number & 0xF);
}

bool ParseUniverse(const std::string& text, NetworkUniverse* universe, std::string* error) {
  std::vector<std::string> parts = Split(text, ':');
  long sacn = 0;
  if (parts.size() == 2 && parts[0] == "sacn" && ParseNumber(parts[1], 1, 63999, &sacn)) {
    *universe = {Protocol::kSacn, static_cast<uint16_t>(sacn)};
    return true;
  }
  long net = 0, subnet = 0, number = 0;
  if (parts.size() == 4 && parts[0] == "artnet" && ParseNumber(parts[1], 0, 127, &net) &&
      ParseNumber(parts[2], 0, 15, &subnet) && ParseNumber(parts[3], 0, 15, &number)) {
    *universe = {Protocol::kArtnet, static_cast<uint16_t>(net << 8 | subnet << 4 | number)};
    return true;
  }
  *error = "\"" + text +
           "\" is not a network universe: write sacn:U with U from 1 to 63999, or artnet:NET:SUB:UNI with "
           "NET 0-127, SUB 0-15 and UNI 0-15.";
  return false;
}

const char* LossPolicyName(LossPolicy loss) {
  size_t index = static_cast<size_t>(loss);
  return index < std::size(kLossNames) ? kLossNames[index] : "?";
}

bool ParseLossPolicy(std::string_view text, LossPolicy* loss) {
  for (size_t index = 0; index < std::size(kLossNames); ++index) {
    if (text == kLossNames[index]) {
      *loss = static_cast<LossPolicy>(index);
      return true;
    }
  }
  return false;
}

}  // namespace ombrix_bridge
