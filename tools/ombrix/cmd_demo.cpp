// ombrix demo: two simulated interfaces, one polled and one fed with whole
// universes, a chase on both, input streamed back, and once a second the
// figures that matter: reports/s against the 1000/s a USB full-speed
// interrupt endpoint carries, universes/s, and change-to-wire latency.
#include <cstdio>
#include <thread>

#include "commands.h"
#include "demo_traffic.h"
#include "link_events.h"
#include "live_view.h"

namespace ombrix_tool {
namespace {

constexpr double kReportLimit = 1000.0;
constexpr double kUniverseLimit = kReportLimit / 16.0;
// The chase moves faster than the wire can follow, so that both links
// always have something new to send: every 2 ms on the polled buffer, a
// universe every 4 ms into the queue (the library keeps only the newest).
constexpr uint32_t kStepMicros = 2000;

struct DemoLink {
  const char* role;
  Serial serial;
  int32_t device;
  LinkCounters* counters = nullptr;
  uint64_t lastInputBlocks = 0;
  uint64_t totalReports = 0;
};

void RunChase(const Api& api, Universe& polled, const Serial& queued, StepHistory& history,
              const std::atomic<bool>& running) {
  uint8_t frame[512];
  uint64_t next = NowMicros();
  for (uint32_t step = 0; running.load(); ++step) {
    history.Record(step, NowMicros());
    for (int channel = 0; channel < 512; ++channel) {
      uint8_t value = ChaseValue(channel, step);
      polled.Store(channel, value);
      frame[channel] = value;
    }
    if (step % 2 == 0) api.SendDmxUniverse(queued.data(), frame);
    next += kStepMicros;
    uint64_t now = NowMicros();
    if (next > now) std::this_thread::sleep_for(std::chrono::microseconds(next - now));
  }
}

std::string FigureLine(const DemoLink& link, const WireFigures& wire, uint64_t inputBlocks, bool polled) {
  char text[256];
  double reports = static_cast<double>(wire.reports);
  int used = snprintf(text, sizeof(text), "%s %-6s %5.0f reports/s (%.2f of 1000)  %5.1f universes/s (%.2f of 62.5)",
                      SerialText(link.serial).c_str(), link.role, reports, reports / kReportLimit,
                      static_cast<double>(wire.universes), wire.universes / kUniverseLimit);
  if (polled) {
    double median = 0;
    double p99 = 0;
    Percentiles(wire.latencies, &median, &p99);
    used += snprintf(text + used, sizeof(text) - used, "  latency median %.2f ms p99 %.2f ms", median, p99);
  }
  snprintf(text + used, sizeof(text) - used, "  input %llu blocks/s  heartbeat calls %llu",
           static_cast<unsigned long long>(inputBlocks),
           static_cast<unsigned long long>(link.counters ? link.counters->heartbeats.load() : 0));
  return text;
}

}  // namespace

int RunDemo(const Api& api, const DemoOptions& options) {
  AddSimulatedInterfaces(api, 2);
  DemoLink links[2] = {{"polled", SimulatedSerial(1), 1}, {"queue", SimulatedSerial(2), 2}};
  Universe output;
  Universe input[2];
  LinkGuard polledLink(api, links[0].serial);
  LinkGuard queueLink(api, links[1].serial);
  std::string error;
  if (!polledLink.Open(&output, &input[0], &error) || !queueLink.Open(nullptr, &input[1], &error) ||
      !polledLink.SetMode(2, &error) || !queueLink.SetMode(2, &error)) {
    return Fail(error);
  }
  LinkEvents events(api);
  for (DemoLink& link : links) {
    link.counters = events.Track(link.serial);
    api.OmbrixSimStreamInput(link.device, 1000);
  }

  StepHistory history;
  std::atomic<bool> running{true};
  std::thread chase(RunChase, std::cref(api), std::ref(output), std::cref(links[1].serial), std::ref(history),
                    std::cref(running));

  LiveView view(OutputIsTerminal() && !options.plain);
  if (!view.enabled()) printf("ombrix demo: two simulated interfaces, one report per 1 ms USB frame (framed writes)\n");
  uint64_t start = NowMicros();
  uint64_t end = options.seconds < 0 ? UINT64_MAX : start + static_cast<uint64_t>(options.seconds * 1e6);
  std::vector<std::string> figures;
  for (uint64_t second = 1; !StopRequested() && NowMicros() < end; ) {
    // The live view is redrawn ten times a second; the figures change once
    // a second, over exactly one second of wire.
    uint64_t tick = start + second * 1000000;
    while (!StopRequested() && NowMicros() < tick && NowMicros() < end) {
      if (view.enabled()) {
        std::vector<std::string> parts = {"ombrix demo  (Ctrl-C ends it)\n\n"};
        for (const std::string& line : figures) parts.push_back(line + "\n");
        parts.push_back("\n" + view.Grid("input of " + SerialText(links[0].serial), input[0], NowMicros()));
        view.Draw(parts);
      }
      SleepUnlessStopped(100);
    }
    if (NowMicros() < tick) break;  // a partial second has no figures
    figures.clear();
    for (const DemoLink& link : links) SimulateHeartbeat(api, link.device);
    for (int i = 0; i < 2; ++i) {
      WireFigures wire = DrainWireLog(api, links[i].device, i == 0 ? &history : nullptr);
      uint64_t blocks = links[i].counters ? links[i].counters->inputBlocks.load() : 0;
      figures.push_back(FigureLine(links[i], wire, blocks - links[i].lastInputBlocks, i == 0));
      links[i].lastInputBlocks = blocks;
      links[i].totalReports += wire.dmxReports;
    }
    if (!view.enabled()) {
      for (const std::string& line : figures) printf("[%3llu s] %s\n", static_cast<unsigned long long>(second), line.c_str());
      fflush(stdout);
    }
    ++second;
  }
  running.store(false);
  chase.join();
  for (int i = 0; i < 2; ++i) api.OmbrixSimStreamInput(links[i].device, 0);
  if (view.enabled()) {
    for (const std::string& line : figures) printf("%s\n", line.c_str());
  }
  // A demo whose links carried no DMX at all is broken, whatever the speed.
  for (const DemoLink& link : links) {
    if (options.seconds != 0 && NowMicros() - start >= 1000000 && link.totalReports == 0) {
      return Fail("The " + std::string(link.role) + " link sent no DMX report.");
    }
  }
  return 0;
}

}  // namespace ombrix_tool
