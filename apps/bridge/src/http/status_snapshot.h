// What the status page and GET /api/status show: one picture of the bridge
// at one moment, built by the bridge thread and then never changed, so any
// number of HTTP threads may read it without a lock.
#ifndef OMBRIX_BRIDGE_HTTP_STATUS_SNAPSHOT_H
#define OMBRIX_BRIDGE_HTTP_STATUS_SNAPSHOT_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "protocols/drops.h"
#include "protocols/tracking.h"

namespace ombrix_bridge {

using DropCounts = std::array<uint64_t, ombrix::protocols::kDropKindCount>;

// One source of a received universe. Strings that came from the network
// (name, and the address as the sender gave it) are carried as they are:
// whoever shows them shows them as text.
struct SourceStatus {
  std::string name;              // sACN source name (printable UTF-8); empty for Art-Net
  std::string cid;               // sACN CID as a UUID ("6ba7b810-9dad-..."); empty for Art-Net
  std::string address;           // the sender's IP address
  int priority = -1;             // sACN universe priority 0-200; -1 for Art-Net, which has none
  bool perSlotPriority = false;  // sACN 0xDD priorities in force
  double packetsPerSecond = 0;
  uint64_t packets = 0;         // accepted since the source joined
  uint64_t sequenceErrors = 0;  // sACN packets dropped as out of sequence
  double secondsSinceLast = 0;  // since its last accepted packet
  bool preview = false;         // sACN preview data: shown, never output
  bool held = false;            // data waiting for a sync packet
  // "primary", "backup" or "" under the universe's merge rules.
  std::string role;
  bool awaitingPriorities = false;  // sACN: levels wait for its first 0xDD packet
  bool lost = false;                // silent too long; leaves with the sources lost with it
  // Empty while present; "terminated" or "timed-out" for a source that left
  // in the last few seconds (kept so the page can say why it went).
  std::string gone;
};

// A network universe that drives interface outputs.
struct UniverseStatus {
  std::string universe;  // "sacn:1", "artnet:0:0:1"
  std::string protocol;  // "sacn" or "artnet"
  uint16_t number = 0;   // sACN universe or Art-Net 15-bit port-address
  double packetsPerSecond = 0;
  bool fading = false;  // every source gone, fading to zero
  std::string merge;    // "htp", "ltp", "backup" or "only"
  std::string loss;     // the fail-safe: "hold", "fade", "zero", "full" or "scene"
  // "sampling" (sources gathered before the first merge), "live", "no source",
  // "primary" or "backup" (which desk a backup universe shows), or
  // "fail-safe" (every source gone; loss says what shows).
  std::string state;
  std::string joinError;  // why multicast for it could not be joined; empty when joined
  std::array<uint8_t, ombrix::protocols::kSlotCount> levels{};  // what goes to the interfaces
  // Index into sources of the slot's owner in the merge, or -1 (kNoOwner).
  std::array<int16_t, ombrix::protocols::kSlotCount> owners{};
  // The owner's priority for the slot: its per-slot (0xDD) priority where
  // it sends them, else its universe priority; 0 for Art-Net and nobody.
  std::array<uint8_t, ombrix::protocols::kSlotCount> priorities{};
  // Present sources first (in the order the owners refer to), then those
  // that left recently.
  std::vector<SourceStatus> sources;
  std::vector<std::string> interfaces;  // serials the universe drives
  DropCounts drops{};
};

// An interface's input sent out as a network universe.
struct SendStatus {
  std::string universe;
  std::string serial;
  double packetsPerSecond = 0;
};

struct InterfaceStatus {
  std::string serial;
  int type = 0;            // device type code (1-3); 0 while never connected
  bool connected = false;  // false: looked for once a second
  int mode = 0;            // the mode the bridge sets
  bool output = false;     // a universe is mapped to its output
  bool input = false;      // its input is mapped to the network
  // Blocks of 32 slots the bridge changed in the output buffer; the library
  // sends each changed block as one DMX block report.
  double reportsOutPerSecond = 0;
  double inputBlocksPerSecond = 0;  // input block reports from the interface
};

// A node that receives this node's Art-Net input by subscription.
struct SubscriberStatus {
  std::string address;
  std::string shortName;               // as its poll reply gives it
  std::vector<std::string> universes;  // "artnet:0:0:1" ... it takes from us
};

struct StatusSnapshot {
  std::string version;
  double uptimeSeconds = 0;
  uint64_t sequence = 0;  // counts snapshots, so a reader sees which is newer
  std::vector<UniverseStatus> universes;
  std::vector<SendStatus> sends;
  std::vector<InterfaceStatus> interfaces;
  // Set by a console's ArtAddress: the node identifies itself (since when,
  // in seconds of uptime), and the last remote change with its sender.
  std::vector<SubscriberStatus> subscribers;
  bool identify = false;
  std::string lastRemoteChange;
  DropCounts sacnDrops{};  // refused before reaching a universe
  DropCounts artnetDrops{};
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_HTTP_STATUS_SNAPSHOT_H
