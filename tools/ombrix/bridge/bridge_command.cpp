#include "bridge_command.h"

#include "../commands.h"
#include "../console.h"
#include "bridge.h"
#include "http/status_page.h"

namespace ombrix_bridge {

CLI::App* AddBridgeCommand(CLI::App& app, BridgeOptions* options) {
  CLI::App* command = app.add_subcommand(
      "bridge", "make the interfaces an sACN (E1.31) and Art-Net node until Ctrl-C or SIGTERM");
  BridgeConfig& config = options->config;
  command->add_option("--config", options->configFile, "TOML file with the mappings and settings (docs/bridge.md)");
  command->add_option("--out", options->outs, "SERIAL=sacn:U or SERIAL=artnet:NET:SUB:UNI: network -> interface output");
  command->add_option("--in", options->ins, "SERIAL=sacn:U or SERIAL=artnet:NET:SUB:UNI: interface input -> network");
  options->given = {
      command->add_option("--bind", config.bind, "address of the network interface to use (default: all)"),
      command->add_option("--mode", config.mode, "mode of interfaces with an output (default 2)"),
      command->add_option("--sacn-port", config.sacnPort, "sACN UDP port (default 5568)"),
      command->add_option("--artnet-port", config.artnetPort, "Art-Net UDP port (default 6454)"),
      command->add_option("--sacn-target", config.sacnTargets, "also send sACN to ADDRESS[:PORT] (repeatable)"),
      command->add_option("--artnet-target", config.artnetTargets, "also send ArtDmx to ADDRESS[:PORT] (repeatable)"),
      command->add_option("--allow", config.allow, "accept only senders in these CIDR blocks")->expected(1, -1),
      command->add_option("--priority", config.priority, "sACN priority of the universes sent (default 100)"),
      command->add_option("--loss", options->loss, "when every source is gone: hold (default) or fade")
          ->check(CLI::IsMember({"hold", "fade"})),
      command->add_option("--fade-seconds", config.fadeSeconds, "with --loss fade: from the last look to zero (default 3)"),
      command->add_option("--http", config.http, "serve the read-only status page on [ADDRESS:]PORT (a bare port: 127.0.0.1)"),
  };
  command->add_flag("--unicast-only", options->unicastOnly,
                    "join no multicast group and send no multicast (targets and pollers only)");
  return command;
}

int RunBridge(const ombrix_tool::Api& api, BridgeOptions& options) {
  BridgeConfig config;
  std::string error;
  if (!options.configFile.empty() && !LoadConfigFile(options.configFile, &config, &error)) {
    return ombrix_tool::FailUsage(error);
  }
  // What the command line gives replaces the file's settings.
  const BridgeConfig& cli = options.config;
  auto given = [&](size_t index) { return options.given[index]->count() > 0; };
  if (given(0)) config.bind = cli.bind;
  if (given(1)) config.mode = cli.mode;
  if (given(2)) config.sacnPort = cli.sacnPort;
  if (given(3)) config.artnetPort = cli.artnetPort;
  if (given(4)) config.sacnTargets = cli.sacnTargets;
  if (given(5)) config.artnetTargets = cli.artnetTargets;
  if (given(6)) config.allow = cli.allow;
  if (given(7)) config.priority = cli.priority;
  if (given(8)) config.loss = options.loss == "fade" ? LossPolicy::kFade : LossPolicy::kHold;
  if (given(9)) config.fadeSeconds = cli.fadeSeconds;
  if (given(10)) config.http = cli.http;
  for (auto [texts, direction] : {std::pair{&options.outs, Direction::kOut}, std::pair{&options.ins, Direction::kIn}}) {
    for (const std::string& text : *texts) {
      Mapping mapping;
      if (!ParseMapping(text, direction, &mapping, &error)) return ombrix_tool::FailUsage(error);
      config.mappings.push_back(mapping);
    }
  }
  if (!CheckConfig(config, &error) || !CheckHttpAddress(config.http, &error)) return ombrix_tool::FailUsage(error);

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
