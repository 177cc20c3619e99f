// `ombrix bridge`: its options and its entry point.
#ifndef OMBRIX_BRIDGE_BRIDGE_COMMAND_H
#define OMBRIX_BRIDGE_BRIDGE_COMMAND_H

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "client/session.h"
#include "bridge_config.h"

namespace ombrix_bridge {

struct BridgeOptions {
  std::string configFile;
  std::vector<std::string> outs;  // SERIAL=UNIVERSE
  std::vector<std::string> ins;
  std::vector<std::string> priorities;  // UNIVERSE=SLOTS:PRIORITY,...
  BridgeConfig config;                  // the defaults, then what the command line gives
  std::string loss;
  std::string merge;
  bool unicastOnly = false;
  // Each option of a setting, with what it copies into the configuration
  // when it is given on the command line (over the file's value). Kept by
  // the option itself, so an option added anywhere overrides its own field.
  struct Override {
    CLI::Option* option;
    std::function<void(const BridgeOptions& from, BridgeConfig* into)> apply;
  };
  std::vector<Override> overrides;
};

// Adds the subcommand and its options to app.
CLI::App* AddBridgeCommand(CLI::App& app, BridgeOptions* options);

// The configuration the bridge runs with, from the parsed command line:
// the file's (when --config names one), each setting given on the command
// line over the file's value, and the mappings of --out and --in after the
// file's. False, with the reason in error, when something is wrong with it.
bool ResolveBridgeConfig(const BridgeOptions& options, BridgeConfig* config, std::string* error);

// Runs the bridge until SIGINT or SIGTERM; returns the exit code.
int RunBridge(const ombrix_tool::Api& api, BridgeOptions& options);

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_BRIDGE_COMMAND_H
