// The tool's commands. Each returns the process exit code and writes its
// errors to stderr as plain sentences.
#ifndef OMBRIX_TOOL_COMMANDS_H
#define OMBRIX_TOOL_COMMANDS_H

#include <string>
#include <vector>

#include "client/failure.h"
#include "client/session.h"
#include "universe_layout.h"

namespace ombrix_tool {

int RunList(const Api& api);

struct SendOptions {
  std::string serial;
  int mode = 2;
  std::vector<std::string> assignments;  // "CH=VALUE"
  std::string fade;                      // "FIRST..LAST"
  double seconds = -1;                   // < 0: until Ctrl-C
};
int RunSend(const Api& api, const SendOptions& options);

struct ModeOptions {
  std::string serial;
  int mode = 0;
  double seconds = 0;
};
int RunMode(const Api& api, const ModeOptions& options);

struct ConfigOptions {
  std::string serial;
  std::vector<int> set;  // byte value, then parameters 1 to 4; empty: no change
  bool store = false;
  double seconds = 0;
};
int RunConfig(const Api& api, const ConfigOptions& options);

struct MonitorOptions {
  std::string serial;
  int mode = -1;        // < 0: leave the mode as opening sets it
  double seconds = -1;  // < 0: until Ctrl-C
  LevelFormat format = LevelFormat::kDecimal;
};
int RunMonitor(const Api& api, const MonitorOptions& options);

struct DemoOptions {
  double seconds = -1;   // < 0: until Ctrl-C
  bool plain = false;    // plain lines even on a terminal
  bool details = false;  // a second line of figures per link on the live screen
  LevelFormat format = LevelFormat::kDecimal;
};
int RunDemo(const Api& api, const DemoOptions& options);

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_COMMANDS_H
