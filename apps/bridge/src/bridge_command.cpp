#include "bridge_command.h"

#include "client/failure.h"
#include "client/console.h"
#include "bridge.h"
#include "http/status_page.h"
#include "universe_settings.h"

namespace ombrix_bridge {
namespace {

// An option that sets one field of the configuration, and overrides the
// file's value of that field when it is given.
template <typename Field>
CLI::Option* Setting(CLI::App* command, BridgeOptions* options, const std::string& name, Field BridgeConfig::*field,
                     const std::string& help) {
  CLI::Option* option = command->add_option(name, options->config.*field, help);
  options->overrides.push_back(
      {option, [field](const BridgeOptions& from, BridgeConfig* into) { into->*field = from.config.*field; }});
  return option;
}

}  // namespace

CLI::App* AddBridgeCommand(CLI::App& app, BridgeOptions* options) {
  CLI::App* command =
      app.add_subcommand("bridge", "make the interfaces an sACN (E1.31) and Art-Net node until Ctrl-C or SIGTERM");
  command->add_option("--config", options->configFile, "TOML file with the mappings and settings (docs/bridge.md)");
  command->add_option("--out", options->outs,
                      "SERIAL=sacn:U or SERIAL=artnet:NET:SUB:UNI: network -> interface output");
  command->add_option("--in", options->ins, "SERIAL=sacn:U or SERIAL=artnet:NET:SUB:UNI: interface input -> network");
  Setting(command, options, "--bind", &BridgeConfig::bind,
          "address or name of the network interface to use (default: the default route's; 0.0.0.0: all)");
  Setting(command, options, "--mode", &BridgeConfig::mode, "mode of interfaces with an output (default 2)");
  Setting(command, options, "--sacn-port", &BridgeConfig::sacnPort, "sACN UDP port (default 5568)");
  Setting(command, options, "--artnet-port", &BridgeConfig::artnetPort, "Art-Net UDP port (default 6454)");
  Setting(command, options, "--sacn-target", &BridgeConfig::sacnTargets,
          "also send sACN to ADDRESS[:PORT] (repeatable)");
  Setting(command, options, "--artnet-target", &BridgeConfig::artnetTargets,
          "also send ArtDmx to ADDRESS[:PORT] (repeatable)");
  Setting(command, options, "--allow", &BridgeConfig::allow, "accept only senders in these CIDR blocks")
      ->expected(1, -1);
  Setting(command, options, "--priority", &BridgeConfig::priority, "sACN priority of the universes sent (default 100)");
  CLI::Option* loss =
      command
          ->add_option("--loss", options->loss, "when every source is gone: hold (default), fade, zero, full or scene")
          ->check(CLI::IsMember({"hold", "fade", "zero", "full", "scene"}));
  options->overrides.push_back(
      {loss, [](const BridgeOptions& from, BridgeConfig* into) { ParseLossPolicy(from.loss, &into->loss); }});
  CLI::Option* merge =
      command->add_option("--merge", options->merge, "how sources of a universe merge: htp (default) or ltp")
          ->check(CLI::IsMember({"htp", "ltp"}));
  options->overrides.push_back({merge, [](const BridgeOptions& from, BridgeConfig* into) {
                                  ombrix::protocols::ParseMergeMode(from.merge, &into->merge);
                                }});
  Setting(command, options, "--fade-seconds", &BridgeConfig::fadeSeconds,
          "with --loss fade: from the last look to zero (default 3)");
  Setting(command, options, "--http", &BridgeConfig::http,
          "serve the read-only status page on [ADDRESS:]PORT (a bare port: 127.0.0.1)");
  Setting(command, options, "--http-host", &BridgeConfig::httpHosts,
          "a name the status page may be reached by besides localhost and the node's addresses (repeatable)");
  command->add_option("--priorities", options->priorities,
                      "UNIVERSE=SLOTS:PRIORITY,...: per-slot priorities sent with an input universe, as "
                      "sacn:5=1-48:100,49-512:0 (repeatable)");
  Setting(command, options, "--manage", &BridgeConfig::manage,
          "consoles (CIDR blocks) that may change the node by Art-Net's ArtAddress (default: none)")
      ->expected(1, -1);
  Setting(command, options, "--state", &BridgeConfig::stateFile,
          "keep what consoles change, and recorded scenes, in this file across restarts");
  CLI::Option* record = command->add_flag(
      "--record-scene", options->config.recordScene,
      "record each output's look, once its sources have driven it, as its fail-safe scene (needs --state)");
  options->overrides.push_back(
      {record, [](const BridgeOptions& from, BridgeConfig* into) { into->recordScene = from.config.recordScene; }});
  CLI::Option* broadcast = command->add_flag(
      "--artnet-broadcast", options->config.artnetBroadcast,
      "also send ArtDmx of the inputs to the bound subnet's broadcast address (besides subscribed nodes)");
  options->overrides.push_back({broadcast, [](const BridgeOptions& from, BridgeConfig* into) {
                                  into->artnetBroadcast = from.config.artnetBroadcast;
                                }});
  command->add_flag("--unicast-only", options->unicastOnly,
                    "join no multicast group and send no multicast (targets and pollers only)");
  return command;
}

bool ResolveBridgeConfig(const BridgeOptions& options, BridgeConfig* config, std::string* error) {
  if (!options.configFile.empty() && !LoadConfigFile(options.configFile, config, error)) return false;
  // What the command line gives replaces the file's settings.
  for (const BridgeOptions::Override& setting : options.overrides) {
    if (setting.option->count() > 0) setting.apply(options, config);
  }
  for (auto [texts, direction] : {std::pair{&options.outs, Direction::kOut}, std::pair{&options.ins, Direction::kIn}}) {
    for (const std::string& text : *texts) {
      Mapping mapping;
      if (!ParseMapping(text, direction, &mapping, error)) return false;
      config->mappings.push_back(mapping);
    }
  }
  for (const std::string& text : options.priorities) {
    if (!AddSlotPriorities(text, config, error)) return false;
  }
  return CheckConfig(*config, error) && CheckHttpAddress(config->http, error);
}

int RunBridge(const ombrix_tool::Api& api, BridgeOptions& options) {
  BridgeConfig config;
  std::string error;
  if (!ResolveBridgeConfig(options, &config, &error)) return ombrix_tool::FailUsage(error);

  Bridge bridge(api, config, !options.unicastOnly);
  if (!bridge.Start(&error)) return ombrix_tool::Fail(error);
  // Where the system delivers a stop on a thread of its own (Windows), it
  // reaches the bridge's event loop here; a stop that came before the
  // relay was in place is passed on at once.
  ombrix_tool::StopRelay relay([&bridge] { bridge.RequestStop(); });
  if (ombrix_tool::StopRequested()) bridge.RequestStop();
  bridge.Run();
  return 0;
}

}  // namespace ombrix_bridge
