// `ombrix bridge`: its options and its entry point.
#ifndef OMBRIX_BRIDGE_BRIDGE_COMMAND_H
#define OMBRIX_BRIDGE_BRIDGE_COMMAND_H

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "../session.h"
#include "bridge_config.h"

namespace ombrix_bridge {

struct BridgeOptions {
  std::string configFile;
  std::vector<std::string> outs;  // SERIAL=UNIVERSE
  std::vector<std::string> ins;
  BridgeConfig config;            // the defaults, then what the command line gives
  std::string loss;
  bool unicastOnly = false;
  // Options given on the command line override the file's values.
  std::vector<CLI::Option*> given;
};

// Adds the subcommand and its options to app.
CLI::App* AddBridgeCommand(CLI::App& app, BridgeOptions* options);

// Runs the bridge until SIGINT or SIGTERM; returns the exit code.
int RunBridge(const ombrix_tool::Api& api, BridgeOptions& options);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_BRIDGE_COMMAND_H
