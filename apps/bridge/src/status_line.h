// What the bridge tells its operator on stderr: one line per change of
// state as it happens, and a status line every 10 s with, per universe, the
// sources present, packets per second and drops by kind, and per interface
// whether it is connected or being looked for.
#ifndef OMBRIX_BRIDGE_STATUS_LINE_H
#define OMBRIX_BRIDGE_STATUS_LINE_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "input_stream.h"
#include "interface_port.h"
#include "output_universe.h"
#include "protocols/drops.h"

namespace ombrix_bridge {

// One line on stderr, prefixed with the time of day.
void LogLine(const std::string& text);

// "truncated=3 bad-vector=1", or empty when nothing was dropped.
std::string DropText(const std::array<uint64_t, ombrix::protocols::kDropKindCount>& counts);

class StatusLine {
 public:
  // Builds the line from counts since the previous call over seconds.
  std::string Compose(const std::vector<std::unique_ptr<OutputUniverse>>& outputs,
                      const std::vector<std::unique_ptr<InputStream>>& inputs,
                      const std::vector<std::unique_ptr<InterfacePort>>& ports,
                      const ombrix::protocols::DropCounters& sacnDrops,
                      const ombrix::protocols::DropCounters& artnetDrops, double seconds);

 private:
  std::map<const void*, uint64_t> lastPackets_;  // keyed by universe or stream
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_STATUS_LINE_H
