// The demo's figures for one link over one second, as text: the plain line
// of a log, and for the live screen a short line that fits 80 columns with
// an optional line of details under it.
#ifndef OMBRIX_TOOL_DEMO_FIGURES_H
#define OMBRIX_TOOL_DEMO_FIGURES_H

#include <cstdint>
#include <string>

namespace ombrix_tool {

struct LinkFigures {
  std::string role;  // "polled" or "queue"
  std::string serial;
  bool polled = false;  // latency is measured on the polled link only
  double reports = 0;   // per second, every write
  double universes = 0;
  double medianMillis = 0;
  double p99Millis = 0;
  double inputBlocks = 0;   // per second
  uint64_t heartbeats = 0;  // calls since the start
};

// "SIM0000000000001 polled   998 reports/s (1.00 of 1000) ... heartbeat calls 3"
std::string PlainFigureLine(const LinkFigures& figures);
// "polled  out  998 reports/s  62.4 universes/s  latency   1.1 ms  in 1000 blocks/s"
std::string ShortFigureLine(const LinkFigures& figures);
// The same in 50 columns, for narrower terminals:
// "polled  out  998/s 62.4 univ/s  1.1 ms  in 1000/s"
std::string CompactFigureLine(const LinkFigures& figures);
// "    SIM0000000000001  1.00 of 1000 reports/s  p99   2.3 ms  heartbeats 3"
std::string DetailFigureLine(const LinkFigures& figures);
// What the short line says before the first second is over.
std::string MeasuringLine(const std::string& role);

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_DEMO_FIGURES_H
