// The [[universe]] tables of the bridge's file: how one received universe's
// sources merge (merge, primary, backup, sources, takeback_seconds) and what
// its outputs show once they are all gone (loss, fade_seconds); the per-slot
// priorities a sent universe goes out with (priorities).
#ifndef OMBRIX_BRIDGE_UNIVERSE_SETTINGS_H
#define OMBRIX_BRIDGE_UNIVERSE_SETTINGS_H

#include <toml++/toml.h>

#include <string>

#include "bridge_config.h"

namespace ombrix_bridge {

// Reads one [[universe]] table into config->universes. On failure error
// names the file, the line and what is wrong.
bool ReadUniverseSettings(const toml::table& table, const std::string& path, BridgeConfig* config, std::string* error);

// --priorities UNIVERSE=SLOTS:PRIORITY,...: the per-slot priorities of an
// input universe, over the file's.
bool AddSlotPriorities(const std::string& text, BridgeConfig* config, std::string* error);

// Checks the universes' settings against the mappings: each names a
// universe some interface outputs, once; backup names both desks, only its
// sources. On failure error gets a sentence.
bool CheckUniverseSettings(const BridgeConfig& config, std::string* error);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_UNIVERSE_SETTINGS_H
