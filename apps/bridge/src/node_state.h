// What consoles changed on the node by ArtAddress (its names, re-patched
// ports, per-port merge modes and fail-safes) and the fail-safe scenes
// recorded: kept in a state file so that a node that loses power comes back
// as it was left, applied over the configuration file at start.
//
// The file is text, one setting a line, every universe by the number the
// configuration file gives it (so a re-patch is found again after a
// restart), and it ends with a line that gives its length and CRC-32: a
// file cut short at any byte, or changed, is refused as a whole and never
// half-applied. It is replaced by writing a temporary file beside it,
// flushing it to the disk, renaming it over the old one and flushing the
// folder, so that a power cut leaves the old file or the new, never a mix.
//
// Bridge thread only.
#ifndef OMBRIX_BRIDGE_NODE_STATE_H
#define OMBRIX_BRIDGE_NODE_STATE_H

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge_config.h"
#include "protocols/merge_mode.h"

namespace ombrix_bridge {

struct NodeState {
  std::string shortName;  // empty: the node's own
  std::string longName;
  // One received universe, by the universe the configuration gives it.
  struct Output {
    NetworkUniverse configured;
    std::optional<NetworkUniverse> patch;  // received under this universe instead
    std::optional<ombrix::protocols::MergeMode> merge;
    std::optional<LossPolicy> loss;
    std::optional<std::array<uint8_t, 512>> scene;
  };
  std::vector<Output> outputs;
  // One sent universe (interface input), by its configured universe.
  struct Input {
    NetworkUniverse configured;
    NetworkUniverse patch;
  };
  std::vector<Input> inputs;

  // The entry of a configured universe, made when there is none.
  Output& OutputFor(const NetworkUniverse& configured);
  Input& InputFor(const NetworkUniverse& configured);
};

std::string FormatNodeState(const NodeState& state);
// Parses a whole file; on failure error says what is wrong (without the
// file's name) and state is not touched.
bool ParseNodeState(std::string_view text, NodeState* state, std::string* error);

// Reads path; a file that does not exist gives an empty state. On failure
// error gets one sentence that names the file.
bool LoadNodeState(const std::string& path, NodeState* state, std::string* error);
// Replaces path durably (see above). On failure error gets one sentence.
bool SaveNodeState(const std::string& path, const NodeState& state, std::string* error);

// The platform's part: writes contents to a temporary file in path's
// folder, flushes it, renames it over path and flushes the folder.
bool ReplaceFileDurably(const std::string& path, const std::string& contents, std::string* error);

uint32_t Crc32(std::string_view bytes);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_NODE_STATE_H
