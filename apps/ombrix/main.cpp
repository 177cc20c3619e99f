// ombrix: list, watch and drive the interfaces from the command line, or
// try the library on simulated interfaces without hardware.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "bridge_command.h"
#include "commands.h"
#ifdef OMBRIX_TOOL_CAPTURE
#include "capture_command.h"
#endif

using namespace ombrix_tool;

namespace {

void AddSerial(CLI::App* command, std::string* serial) {
  command->add_option("SERIAL", *serial, "the interface's 16-character serial (see ombrix list)")->required();
}

void AddLevelFormat(CLI::App* command, LevelFormat* format) {
  std::vector<std::string> names;
  for (const auto& entry : LevelFormatNames()) names.push_back(entry.first);
  command
      ->add_option_function<std::string>(
          "--format", [format](const std::string& name) { *format = LevelFormatNames().at(name); },
          "levels as dec (0-255, the default), hex (00-FF) or pct (0-100)")
      ->check(CLI::IsMember(names));
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ombrix - USB DMX512 interfaces from the command line"};
  app.require_subcommand(1);
  GlobalOptions global;
  app.add_flag("--sim", global.simulated, "use simulated interfaces instead of attached ones");
  app.add_option("--sim-devices", global.simDevices, "number of simulated interfaces (with --sim)")
      ->check(CLI::Range(1, 32));
  bool simLoopback = false;
  app.add_flag("--sim-loopback", simLoopback, "(with --sim) wire every simulated interface's output back to its input");

  app.add_subcommand("list", "list the attached interfaces: serial, type code, release");

  MonitorOptions monitor;
  CLI::App* monitorCommand = app.add_subcommand("monitor", "show the 512 input channels live");
  AddSerial(monitorCommand, &monitor.serial);
  monitorCommand->add_option("--mode", monitor.mode, "set this mode after opening")->check(CLI::Range(0, 255));
  monitorCommand->add_option("--seconds", monitor.seconds, "stop after this long (default: Ctrl-C)");
  AddLevelFormat(monitorCommand, &monitor.format);

  SendOptions send;
  CLI::App* sendCommand = app.add_subcommand("send", "send channel values (held until Ctrl-C or --seconds)");
  AddSerial(sendCommand, &send.serial);
  CLI::Option* values = sendCommand->add_option("CH=VALUE", send.assignments, "channel 1-512 = value 0-255");
  sendCommand->add_option("--fade", send.fade, "fade the channels FIRST..LAST up and down")->excludes(values);
  sendCommand->add_option("--mode", send.mode, "output mode (default 2)")->check(CLI::Range(0, 255));
  sendCommand->add_option("--seconds", send.seconds, "close the link after this long (default: Ctrl-C)");

  ModeOptions mode;
  CLI::App* modeCommand = app.add_subcommand("mode", "set the interface's operating mode");
  AddSerial(modeCommand, &mode.serial);
  modeCommand->add_option("N", mode.mode, "mode 0-255")->required()->check(CLI::Range(0, 255));
  modeCommand->add_option("--seconds", mode.seconds, "keep the link open this long");

  ConfigOptions config;
  CLI::App* configCommand = app.add_subcommand("config", "set, store and show the transmit configuration");
  AddSerial(configCommand, &config.serial);
  configCommand->add_option("--set", config.set, "BYTE P1 P2 P3 P4, each 0-255")->expected(5);
  configCommand->add_flag("--store", config.store, "ask the interface to store its configuration");
  configCommand->add_option("--seconds", config.seconds, "wait this long for the interface before showing");

  DemoOptions demo;
  CLI::App* demoCommand = app.add_subcommand("demo", "run the library on two simulated interfaces, no hardware");
  demoCommand->add_option("--seconds", demo.seconds, "end after this long (default: Ctrl-C)");
  demoCommand->add_flag("--plain", demo.plain, "print plain lines even on a terminal");
  demoCommand->add_flag("--details", demo.details,
                        "show each link's serial, share of the wire, p99 latency, heartbeats");
  AddLevelFormat(demoCommand, &demo.format);

  ombrix_bridge::BridgeOptions bridge;
  CLI::App* bridgeCommand = ombrix_bridge::AddBridgeCommand(app, &bridge);
#ifdef OMBRIX_TOOL_CAPTURE
  ombrix_capture::RecordOptions record;
  CLI::App* recordCommand = ombrix_capture::AddRecordCommand(app, &record);
  ombrix_capture::PlayOptions play;
  CLI::App* playCommand = ombrix_capture::AddPlayCommand(app, &play);
#endif

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // CLI11 prints the message; every argument it refuses (unknown option,
    // value out of range, bad format) is a usage error with the tool's own
    // exit code, so scripts see one code for "cannot use that argument".
    int code = app.exit(error);
    return code == 0 ? 0 : kExitUsage;
  }

  CLI::App* command = app.get_subcommands().front();
  // The demo needs no hardware: it always runs on the simulator.
  bool simulated = global.simulated || command == demoCommand;
  if (simLoopback && !simulated) return FailUsage("--sim-loopback works only with --sim.");
  Api api;
  std::string error;
  if (!LoadApi(simulated, &api, &error)) return Fail(error);
  if (simulated && command != demoCommand) AddSimulatedInterfaces(api, global.simDevices);
  if (simLoopback) {
    if (api.OmbrixSimSetLoopback == nullptr) {
      return Fail("The simulator library has no loopback (OmbrixSimSetLoopback is missing); rebuild it.");
    }
    for (int32_t device = 1; device <= global.simDevices; ++device) api.OmbrixSimSetLoopback(device, 1);
  }
  InstallStopHandler();

  if (command == monitorCommand) return RunMonitor(api, monitor);
  if (command == sendCommand) return RunSend(api, send);
  if (command == modeCommand) return RunMode(api, mode);
  if (command == configCommand) return RunConfig(api, config);
  if (command == demoCommand) return RunDemo(api, demo);
  if (command == bridgeCommand) return ombrix_bridge::RunBridge(api, bridge);
#ifdef OMBRIX_TOOL_CAPTURE
  if (command == recordCommand) return ombrix_capture::RunRecord(api, record);
  if (command == playCommand) return ombrix_capture::RunPlay(api, play);
#endif
  return RunList(api);
}
