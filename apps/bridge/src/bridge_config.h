// What the bridge is told to do: which interface carries which network
// universe in which direction, where it listens and sends, and whom it
// trusts. Filled from the command line or a TOML file, then checked once
// before anything opens.
#ifndef OMBRIX_BRIDGE_CONFIG_H
#define OMBRIX_BRIDGE_CONFIG_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/session.h"
#include "protocols/merge_mode.h"

namespace ombrix_bridge {

using ombrix_tool::Serial;

enum class Protocol { kSacn, kArtnet };

// A network universe: an sACN universe 1-63999, or an Art-Net 15-bit
// port-address (Net << 8 | SubNet << 4 | Universe).
struct NetworkUniverse {
  Protocol protocol = Protocol::kSacn;
  uint16_t number = 0;
  bool operator==(const NetworkUniverse& other) const { return protocol == other.protocol && number == other.number; }
  bool operator<(const NetworkUniverse& other) const {
    return protocol != other.protocol ? protocol < other.protocol : number < other.number;
  }
};

// "sacn:1" or "artnet:NET:SUB:UNI" as the user writes it.
std::string UniverseText(const NetworkUniverse& universe);

enum class Direction {
  kOut,  // network universe -> interface output
  kIn,   // interface input -> network universe
};

struct Mapping {
  Serial serial{};
  Direction direction = Direction::kOut;
  NetworkUniverse universe;
};

// What an output shows once every source of its universe is gone (its
// fail-safe): the last look held, a fade to zero, zero or full at once, or
// a scene recorded beforehand.
enum class LossPolicy { kHold, kFade, kZero, kFull, kScene };
const char* LossPolicyName(LossPolicy loss);  // "hold", "fade", ...
bool ParseLossPolicy(std::string_view text, LossPolicy* loss);
constexpr const char* kLossPolicyChoices = "\"hold\", \"fade\", \"zero\", \"full\" or \"scene\"";

// One network universe's own settings (a [[universe]] table), over the
// bridge's defaults.
struct UniverseSettings {
  NetworkUniverse universe;
  std::optional<ombrix::protocols::MergeRules> merge;
  std::optional<LossPolicy> loss;
  std::optional<double> fadeSeconds;
  // For a universe sent from an interface's input: the per-slot
  // priorities (0xDD) sent with it, e.g. "1-48:100, 49-512:0".
  std::optional<std::array<uint8_t, 512>> priorities;
};

// A mode for one interface that overrides the default (from the file).
struct InterfaceMode {
  Serial serial{};
  int mode = 0;
};

struct BridgeConfig {
  std::vector<Mapping> mappings;
  std::vector<InterfaceMode> modes;
  // An address or an interface name: where multicast is joined and sent.
  // Empty: the interface of the default route (network_choice.h);
  // "0.0.0.0": every address, multicast wherever the routing table says.
  std::string bind;
  // The mode set on interfaces with an output mapping. Interfaces that only
  // give input stay in mode 0, so that the bridge never makes an interface
  // transmit on a line a console is driving; a file may set their mode.
  int mode = 2;
  int sacnPort = 5568;
  int artnetPort = 6454;
  std::vector<std::string> sacnTargets;    // unicast destinations for sACN we send
  std::vector<std::string> artnetTargets;  // unicast destinations for ArtDmx we send
  std::vector<std::string> allow;          // CIDR blocks of accepted senders; empty: everyone
  int priority = 100;                      // sACN priority of the universes we send
  LossPolicy loss = LossPolicy::kHold;
  double fadeSeconds = 3.0;  // with kFade: from the last look to zero in this long
  // How the sources of a universe without settings of its own merge (HTP or LTP).
  ombrix::protocols::MergeMode merge = ombrix::protocols::MergeMode::kHtp;
  std::vector<UniverseSettings> universes;  // at most one per universe
  // CIDR blocks of the consoles that may change the node by ArtAddress;
  // empty: nobody.
  std::vector<std::string> manage;
  // Where what consoles changed (and recorded scenes) is kept across
  // restarts; empty: not kept.
  std::string stateFile;
  // Record each output's look as its fail-safe scene once the sources have
  // driven it after start (command line only).
  bool recordScene = false;
  // Also send the input's ArtDmx to the bound subnet's directed broadcast
  // (besides the nodes that subscribe by their poll replies).
  bool artnetBroadcast = false;
  std::string http;  // [ADDRESS:]PORT of the status page; empty: no page
  // Names the page may be reached by besides localhost and the node's
  // addresses (a DNS name of the machine, for example).
  std::vector<std::string> httpHosts;
};

// The mode the bridge sets on this interface.
int ModeFor(const BridgeConfig& config, const Serial& serial);

// What a received universe runs with: its own settings where it has them,
// the bridge's defaults for the rest (every field set).
struct OutputSettings {
  ombrix::protocols::MergeRules merge;
  LossPolicy loss = LossPolicy::kHold;
  double fadeSeconds = 3.0;
};
OutputSettings SettingsFor(const BridgeConfig& config, const NetworkUniverse& universe);
// The per-slot priorities a sent universe goes out with, if it has any.
std::optional<std::array<uint8_t, 512>> PrioritiesFor(const BridgeConfig& config, const NetworkUniverse& universe);

// Parses "sacn:U" or "artnet:NET:SUB:UNI". On failure error gets a sentence.
bool ParseUniverse(const std::string& text, NetworkUniverse* universe, std::string* error);
// Parses "SERIAL=sacn:U" or "SERIAL=artnet:NET:SUB:UNI".
bool ParseMapping(const std::string& text, Direction direction, Mapping* mapping, std::string* error);

// Reads a TOML configuration file into config (values it sets replace the
// defaults; mappings are added). On failure error names the file, the line
// and what is wrong.
bool LoadConfigFile(const std::string& path, BridgeConfig* config, std::string* error);

// Checks what cannot be checked value by value: at least one mapping, one
// output universe per interface (an interface has one output), ranges and
// addresses. On failure error gets a sentence.
bool CheckConfig(const BridgeConfig& config, std::string* error);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_CONFIG_H
