// ombrix demo: two simulated interfaces, one polled and one fed with whole
// universes, a chase on both, input streamed back, and once a second the
// figures that matter: reports/s against the 1000/s a USB full-speed
// interrupt endpoint carries, universes/s, and change-to-wire latency. On a
// terminal both sides of both links are shown live: the universe the
// application wrote and the input that came back.
#include <cstdio>
#include <thread>

#include "commands.h"
#include "demo_figures.h"
#include "demo_traffic.h"
#include "client/link_events.h"
#include "live_view.h"

namespace ombrix_tool {
namespace {

// The chase moves faster than the wire can follow, so that both links
// always have something new to send: every 2 ms on the polled buffer, a
// universe every 4 ms into the queue (the library keeps only the newest).
constexpr uint32_t kStepMicros = 2000;

struct DemoLink {
  DemoLink(const char* role, int number) : role(role), serial(SimulatedSerial(number)), device(number) {}
  const char* role;
  Serial serial;
  int32_t device;
  LinkCounters* counters = nullptr;
  uint64_t lastInputBlocks = 0;
  // When the figures were last taken: the wire log holds what was written
  // since then.
  uint64_t lastMeasuredMicros = 0;
  uint64_t totalReports = 0;
  // What the application wrote (the polled buffer, or a copy of the last
  // universe queued) and what came back; both written by the library or
  // the chase thread, read by the main thread.
  Universe output;
  Universe input;
  // Main thread only.
  ChangeTracker outputChanges;
  ChangeTracker inputChanges;
};

void RunChase(const Api& api, DemoLink& polled, DemoLink& queued, StepHistory& history,
              const std::atomic<bool>& running) {
  uint8_t frame[512];
  uint64_t next = NowMicros();
  for (uint32_t step = 0; running.load(); ++step) {
    history.Record(step, NowMicros());
    for (int channel = 0; channel < 512; ++channel) {
      uint8_t value = ChaseValue(channel, step);
      polled.output.Store(channel, value);
      frame[channel] = value;
    }
    if (step % 2 == 0) {
      api.SendDmxUniverse(queued.serial.data(), frame);
      for (int channel = 0; channel < 512; ++channel) queued.output.Store(channel, frame[channel]);
    }
    next += kStepMicros;
    uint64_t now = NowMicros();
    if (next > now) std::this_thread::sleep_for(std::chrono::microseconds(next - now));
  }
}

LinkFigures Measure(const Api& api, DemoLink& link, const StepHistory* history) {
  uint64_t now = NowMicros();
  WireFigures wire = DrainWireLog(api, link.device, history);
  uint64_t blocks = link.counters ? link.counters->inputBlocks.load() : 0;
  uint64_t elapsed = now - link.lastMeasuredMicros;
  LinkFigures figures;
  figures.role = link.role;
  figures.serial = SerialText(link.serial);
  figures.polled = history != nullptr;
  figures.reports = PerSecond(wire.reports, elapsed);
  figures.universes = PerSecond(wire.universes, elapsed);
  Percentiles(wire.latencies, &figures.medianMillis, &figures.p99Millis);
  figures.inputBlocks = PerSecond(blocks - link.lastInputBlocks, elapsed);
  figures.heartbeats = link.counters ? link.counters->heartbeats.load() : 0;
  link.lastInputBlocks = blocks;
  link.lastMeasuredMicros = now;
  link.totalReports += wire.dmxReports;
  return figures;
}

void DrawDemo(LiveView& view, DemoLink* links, const std::vector<LinkFigures>& figures, const DemoOptions& options) {
  ViewSettings settings;
  settings.format = options.format;
  settings.nowMicros = NowMicros();
  int width = 0;
  int height = 0;
  view.Size(&width, &height);
  std::vector<std::string> header = {"ombrix demo: two simulated interfaces  (Ctrl-C ends it)"};
  for (int i = 0; i < 2; ++i) {
    if (figures.empty()) {
      header.push_back(MeasuringLine(links[i].role));
      continue;
    }
    header.push_back(width >= 80 ? ShortFigureLine(figures[i]) : CompactFigureLine(figures[i]));
    if (options.details) header.push_back(DetailFigureLine(figures[i]));
  }
  header.emplace_back();
  std::vector<UniversePanel> panels;
  uint8_t levels[512];
  for (int i = 0; i < 2; ++i) {
    DemoLink& link = links[i];
    link.output.CopyTo(levels);
    link.outputChanges.Observe(levels, settings.nowMicros);
    link.input.CopyTo(levels);
    link.inputChanges.Observe(levels, settings.nowMicros);
    panels.push_back({std::string(link.role) + " out", link.outputChanges.levels(), link.outputChanges.changedAt()});
    panels.push_back({std::string(link.role) + " in", link.inputChanges.levels(), link.inputChanges.changedAt()});
  }
  view.Draw(LayoutScreen(width, height, header, panels, settings));
}

// Runs until the time is up or Ctrl-C; returns the figures of the last
// whole second.
std::vector<LinkFigures> ShowDemo(const Api& api, DemoLink* links, StepHistory& history, const DemoOptions& options) {
  LiveView view(OutputIsTerminal() && !options.plain);
  if (!view.enabled()) printf("ombrix demo: two simulated interfaces, one report per 1 ms USB frame (framed writes)\n");
  uint64_t start = NowMicros();
  uint64_t end = options.seconds < 0 ? UINT64_MAX : start + static_cast<uint64_t>(options.seconds * 1e6);
  // The first window starts now: what the wire carried while the links
  // were being set up belongs to no second of the figures.
  for (int i = 0; i < 2; ++i) Measure(api, links[i], nullptr);
  std::vector<LinkFigures> figures;
  for (uint64_t second = 1; !StopRequested() && NowMicros() < end;) {
    // The live view is redrawn ten times a second (and at once on a
    // resize); the figures change once a second, each over the time its
    // window actually lasted.
    uint64_t tick = start + second * 1000000;
    while (!StopRequested() && NowMicros() < tick && NowMicros() < end) {
      if (view.enabled()) DrawDemo(view, links, figures, options);
      view.Wait(100);
    }
    if (NowMicros() < tick) break;  // a partial second has no figures
    figures.clear();
    for (int i = 0; i < 2; ++i) SimulateHeartbeat(api, links[i].device);
    for (int i = 0; i < 2; ++i) figures.push_back(Measure(api, links[i], i == 0 ? &history : nullptr));
    if (!view.enabled()) {
      for (const LinkFigures& link : figures) {
        printf("[%3llu s] %s\n", static_cast<unsigned long long>(second), PlainFigureLine(link).c_str());
      }
      fflush(stdout);
    }
    ++second;
  }
  return figures;
}

}  // namespace

int RunDemo(const Api& api, const DemoOptions& options) {
  AddSimulatedInterfaces(api, 2);
  DemoLink links[2] = {{"polled", 1}, {"queue", 2}};
  LinkGuard polledLink(api, links[0].serial);
  LinkGuard queueLink(api, links[1].serial);
  std::string error;
  if (!polledLink.Open(&links[0].output, &links[0].input, &error) ||
      !queueLink.Open(nullptr, &links[1].input, &error) || !polledLink.SetMode(2, &error) ||
      !queueLink.SetMode(2, &error)) {
    return Fail(error);
  }
  LinkEvents events(api);
  for (DemoLink& link : links) {
    link.counters = events.Track(link.serial);
    api.OmbrixSimStreamInput(link.device, 1000);
  }

  StepHistory history;
  std::atomic<bool> running{true};
  std::thread chase(RunChase, std::cref(api), std::ref(links[0]), std::ref(links[1]), std::ref(history),
                    std::cref(running));
  uint64_t start = NowMicros();
  std::vector<LinkFigures> figures = ShowDemo(api, links, history, options);
  running.store(false);
  chase.join();
  for (DemoLink& link : links) api.OmbrixSimStreamInput(link.device, 0);
  // The live screen is gone; leave the last figures where the user can see
  // them, in lines that fit the usual 80 columns.
  if (OutputIsTerminal() && !options.plain) {
    for (const LinkFigures& link : figures)
      printf("%s\n%s\n", ShortFigureLine(link).c_str(), DetailFigureLine(link).c_str());
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
