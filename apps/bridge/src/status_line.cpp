#include "status_line.h"

#include <time.h>

#include <cstdio>

namespace ombrix_bridge {

using namespace ombrix::protocols;

void LogLine(const std::string& text) {
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char stamp[16];
  strftime(stamp, sizeof(stamp), "%H:%M:%S", &local);
  fprintf(stderr, "%s bridge: %s\n", stamp, text.c_str());
  fflush(stderr);
}

std::string DropText(const std::array<uint64_t, kDropKindCount>& counts) {
  std::string text;
  for (size_t kind = 0; kind < kDropKindCount; ++kind) {
    if (counts[kind] == 0) continue;
    if (!text.empty()) text += ' ';
    text += std::string(DropKindName(static_cast<DropKind>(kind))) + "=" + std::to_string(counts[kind]);
  }
  return text;
}

std::string StatusLine::Compose(const std::vector<std::unique_ptr<OutputUniverse>>& outputs,
                                const std::vector<std::unique_ptr<InputStream>>& inputs,
                                const std::vector<std::unique_ptr<InterfacePort>>& ports, const DropCounters& sacnDrops,
                                const DropCounters& artnetDrops, double seconds) {
  auto rate = [&](const void* key, uint64_t packets) {
    uint64_t last = lastPackets_[key];
    lastPackets_[key] = packets;
    char text[32];
    snprintf(text, sizeof(text), "%.1f", seconds > 0 ? static_cast<double>(packets - last) / seconds : 0.0);
    return std::string(text);
  };
  std::string line = "status:";
  for (const auto& output : outputs) {
    line += " [in " + UniverseText(output->universe()) + " " + std::to_string(output->sources) + " sources " +
            rate(output.get(), output->packets) + " pkt/s";
    std::string drops = DropText(output->drops.Snapshot());
    if (!drops.empty()) line += " drops " + drops;
    if (output->fading()) line += " fading";
    if (!output->joinError.empty()) line += " " + output->joinError;
    line += "]";
  }
  for (const auto& input : inputs) {
    line += " [out " + UniverseText(input->universe()) + " " + rate(input.get(), input->packets) + " pkt/s]";
  }
  for (const auto& port : ports) {
    line += " [" + ombrix_tool::SerialText(port->serial()) + (port->connected() ? " connected]" : " looking]");
  }
  std::string drops = DropText(sacnDrops.Snapshot());
  if (!drops.empty()) line += " [sacn drops " + drops + "]";
  drops = DropText(artnetDrops.Snapshot());
  if (!drops.empty()) line += " [artnet drops " + drops + "]";
  return line;
}

}  // namespace ombrix_bridge
