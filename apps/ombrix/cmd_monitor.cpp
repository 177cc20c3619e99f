// ombrix monitor: the 512 input channels of one interface, live, with the
// rate of input blocks, heartbeats and interface changes.
#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "client/link_events.h"
#include "client/link_guard.h"
#include "live_view.h"

namespace ombrix_tool {
namespace {

void DrawMonitor(LiveView& view, const Serial& serial, const Universe& input, ChangeTracker& changes,
                 const LinkCounters& counters, double blocksPerSecond, LevelFormat format) {
  ViewSettings settings;
  settings.format = format;
  settings.nowMicros = NowMicros();
  char status[160];
  snprintf(status, sizeof(status), "input %.0f blocks/s  heartbeat calls %llu  interface changes %llu", blocksPerSecond,
           static_cast<unsigned long long>(counters.heartbeats.load()),
           static_cast<unsigned long long>(counters.interfaceChanges.load()));
  std::vector<std::string> header = {"ombrix monitor " + SerialText(serial) + "  (Ctrl-C closes the link)", status, ""};
  uint8_t levels[512];
  input.CopyTo(levels);
  changes.Observe(levels, settings.nowMicros);
  int width = 0;
  int height = 0;
  view.Size(&width, &height);
  view.Draw(LayoutScreen(width, height, header, {{"input", changes.levels(), changes.changedAt()}}, settings));
}

}  // namespace

int RunMonitor(const Api& api, const MonitorOptions& options) {
  Serial serial;
  std::string error;
  if (!ParseSerial(options.serial, &serial, &error)) return FailUsage(error);
  Universe input;
  LinkGuard link(api, serial);
  if (!link.Open(nullptr, &input, &error)) return Fail(error);
  if (options.mode >= 0 && !link.SetMode(options.mode, &error)) return Fail(error);
  LinkEvents events(api);
  LinkCounters* counters = events.Track(serial);
  if (counters == nullptr) return Fail("The link to " + SerialText(serial) + " closed while it was being set up.");

  // A simulated interface has no DMX line to listen to: it streams input
  // of its own at the rate of a busy line, one block per millisecond.
  int32_t simDevice = api.simulated ? static_cast<int32_t>(strtol(SerialText(serial).c_str() + 3, nullptr, 10)) : 0;
  if (simDevice != 0) api.OmbrixSimStreamInput(simDevice, 1000);

  LiveView view(OutputIsTerminal());
  if (!view.enabled()) printf("monitoring %s; Ctrl-C closes the link\n", SerialText(serial).c_str());
  fflush(stdout);
  uint64_t start = NowMicros();
  uint64_t end = options.seconds < 0 ? UINT64_MAX : start + static_cast<uint64_t>(options.seconds * 1e6);
  uint64_t lastBlocks = counters->inputBlocks.load();
  uint64_t lastMeasured = NowMicros();
  double blocksPerSecond = 0;
  ChangeTracker changes;
  for (uint64_t second = 1; !StopRequested() && NowMicros() < end;) {
    uint64_t tick = start + second * 1000000;
    while (!StopRequested() && NowMicros() < tick && NowMicros() < end) {
      if (view.enabled()) DrawMonitor(view, serial, input, changes, *counters, blocksPerSecond, options.format);
      view.Wait(100);
    }
    if (NowMicros() < tick) break;
    uint64_t blocks = counters->inputBlocks.load();
    uint64_t measured = NowMicros();
    blocksPerSecond = PerSecond(blocks - lastBlocks, measured - lastMeasured);
    lastBlocks = blocks;
    lastMeasured = measured;
    if (simDevice != 0) SimulateHeartbeat(api, simDevice);
    if (!view.enabled()) {
      printf("[%3llu s] input %.0f blocks/s, heartbeat calls %llu, interface changes %llu\n",
             static_cast<unsigned long long>(second), blocksPerSecond,
             static_cast<unsigned long long>(counters->heartbeats.load()),
             static_cast<unsigned long long>(counters->interfaceChanges.load()));
      fflush(stdout);
    }
    ++second;
  }
  if (simDevice != 0) api.OmbrixSimStreamInput(simDevice, 0);
  // The heartbeat callback is withdrawn (events) before the link closes.
  return 0;
}

}  // namespace ombrix_tool
