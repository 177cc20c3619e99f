#include "demo_figures.h"

#include <cstdio>

namespace ombrix_tool {
namespace {

// What one USB full-speed interrupt endpoint carries: one report per 1 ms
// frame, so 1000 reports/s or 62.5 universes of 16 blocks.
constexpr double kReportLimit = 1000.0;
constexpr double kUniverseLimit = kReportLimit / 16.0;

}  // namespace

std::string PlainFigureLine(const LinkFigures& figures) {
  char text[320];
  int used = snprintf(text, sizeof(text), "%s %-6s %5.0f reports/s (%.2f of 1000)  %5.1f universes/s (%.2f of 62.5)",
                      figures.serial.c_str(), figures.role.c_str(), figures.reports, figures.reports / kReportLimit,
                      figures.universes, figures.universes / kUniverseLimit);
  if (figures.polled) {
    used += snprintf(text + used, sizeof(text) - used, "  latency median %.2f ms p99 %.2f ms", figures.medianMillis,
                     figures.p99Millis);
  }
  snprintf(text + used, sizeof(text) - used, "  input %.0f blocks/s  heartbeat calls %llu", figures.inputBlocks,
           static_cast<unsigned long long>(figures.heartbeats));
  return text;
}

std::string ShortFigureLine(const LinkFigures& figures) {
  char latency[32] = "";
  // Fixed widths keep the "in" column in one place on both lines; a figure
  // too large for its field widens the line, which the view then cuts.
  if (figures.polled) snprintf(latency, sizeof(latency), "latency %5.1f ms", figures.medianMillis);
  char text[160];
  snprintf(text, sizeof(text), "%-6s  out %4.0f reports/s %4.1f universes/s  %-16s  in %4.0f blocks/s",
           figures.role.c_str(), figures.reports, figures.universes, latency, figures.inputBlocks);
  return text;
}

std::string CompactFigureLine(const LinkFigures& figures) {
  char latency[32] = "";
  if (figures.polled) snprintf(latency, sizeof(latency), "%5.1f ms", figures.medianMillis);
  char text[160];
  snprintf(text, sizeof(text), "%-6s  out %4.0f/s %4.1f univ/s %-8s  in %4.0f/s", figures.role.c_str(), figures.reports,
           figures.universes, latency, figures.inputBlocks);
  return text;
}

std::string DetailFigureLine(const LinkFigures& figures) {
  char text[200];
  int used = snprintf(text, sizeof(text), "    %s  %.2f of 1000 reports/s", figures.serial.c_str(),
                      figures.reports / kReportLimit);
  if (figures.polled) used += snprintf(text + used, sizeof(text) - used, "  p99 %5.1f ms", figures.p99Millis);
  snprintf(text + used, sizeof(text) - used, "  heartbeats %llu", static_cast<unsigned long long>(figures.heartbeats));
  return text;
}

std::string MeasuringLine(const std::string& role) {
  char text[80];
  snprintf(text, sizeof(text), "%-6s  measuring the first second ...", role.c_str());
  return text;
}

}  // namespace ombrix_tool
