// ombrix_play_bench: `ombrix play`'s figures. A show of UNIVERSES universes
// at 44 frames per second, every slot changing every frame, is written as a
// pcap file and played (the player's own code, RunPlay, in-process) into as
// many simulated interfaces, one universe each, whose writes complete at the
// next 1 ms USB frame like the hardware's. Prints beside their goals:
//   lateness of every frame against its recorded offset: median, p99, and
//            the first minute against the last (windows of half the run
//            when it is shorter than two minutes);
//   CPU:     of the whole process (the player and the library's threads
//            for every interface) and of the player's thread alone, per
//            universe, in % of one core;
//   memory:  resident set size 10 s in and at the end (goal: flat).
// The simulator's write log is emptied once a second, so that what it
// keeps for tests does not count as the player's memory.
// Usage: ombrix_play_bench [SECONDS [UNIVERSES]]  (default 120 s and 16;
// the full ten-minute figure: ombrix_play_bench 600)
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "bench_support.h"
#include "capture_file.h"
#include "client/linked_api.h"
#include "play_schedule.h"
#include "player.h"
#include "protocols/capture_frame.h"
#include "protocols/sacn_packet.h"

namespace {

using namespace ombrix_bench;
using namespace ombrix_capture;
namespace proto = ombrix::protocols;

constexpr int kRate = 44;

const ombrix_tool::Api& SimApi() {
  static const ombrix_tool::Api api = ombrix_tool::LinkedSimulatorApi();
  return api;
}

double ResidentMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

bool WriteShow(const std::string& path, int seconds, int universes) {
  CaptureWriter writer;
  std::string error;
  if (!writer.Open(path, &error)) {
    fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  const int64_t start = 1700000000LL * 1000000000;
  const int64_t interval = 1000000000 / kRate;
  uint8_t slots[512];
  uint8_t packet[proto::kSacnDataMaxSize];
  uint8_t frame[proto::kIpv4UdpHeaderSize + sizeof(packet)];
  for (int64_t tick = 0; tick < static_cast<int64_t>(seconds) * kRate; ++tick) {
    for (int universe = 1; universe <= universes; ++universe) {
      for (int i = 0; i < 512; ++i) slots[i] = static_cast<uint8_t>(tick + i + universe);
      proto::SacnData data;
      data.cid[0] = static_cast<uint8_t>(universe);
      data.sourceName = "bench console";
      data.sequence = static_cast<uint8_t>(tick);
      data.universe = static_cast<uint16_t>(universe);
      data.slots = slots;
      data.slotCount = 512;
      size_t size = proto::BuildSacnData(data, packet, sizeof(packet));
      size_t length =
          proto::BuildIpv4Udp(0x0A000002, 0xEFFF0000 | universe, 50000, 5568, 0, packet, size, frame, sizeof(frame));
      // The universes of one tick 50 us apart, as a console sends them.
      if (!writer.Write(start + tick * interval + universe * 50000, frame, length, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return false;
      }
    }
  }
  return writer.Close(&error);
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = argc > 1 ? atoi(argv[1]) : 120;
  int universes = argc > 2 ? atoi(argv[2]) : 16;
  if (seconds < 10 || universes < 1 || universes > 32) {
    fprintf(stderr, "usage: ombrix_play_bench [SECONDS (>= 10) [UNIVERSES (1-32)]]\n");
    return 2;
  }
  printf("ombrix_play_bench: %d s show, %d universes at %d frames/s, %ld cores\n", seconds, universes, kRate,
         sysconf(_SC_NPROCESSORS_ONLN));
  std::string path = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") + "/ombrix-play-bench-" +
                     std::to_string(getpid()) + ".pcap";
  if (!WriteShow(path, seconds, universes)) return 1;
  std::ifstream size(path, std::ios::binary | std::ios::ate);
  printf("show: %s, %.1f MB\n", path.c_str(), static_cast<double>(size.tellg()) / 1e6);

  const ombrix_tool::Api& api = SimApi();
  api.OmbrixSimReset();
  ombrix_tool::AddSimulatedInterfaces(api, universes);
  PlayOptions options;
  options.files = {path};
  for (int universe = 1; universe <= universes; ++universe) {
    options.outs.push_back(ombrix_tool::SerialText(ombrix_tool::SimulatedSerial(universe)) +
                           "=sacn:" + std::to_string(universe));
  }
  options.statusSeconds = 60;
  options.reportSimulatedWire = false;

  const int64_t window = std::min<int64_t>(60, seconds / 2) * 1000000000LL;
  const int64_t length = static_cast<int64_t>(seconds) * 1000000000LL;
  LatenessHistogram all, first, last;
  PlayHooks hooks;
  hooks.onFrame = [&](int64_t due, int64_t applied, int64_t) {
    int64_t late = applied - due;
    all.Add(late);
    if (due < window) first.Add(late);
    if (due >= length - window) last.Add(late);
  };
  std::atomic<bool> playing{true};
  double rssEarly = 0, rssLate = 0, rssMax = 0;
  std::thread sampler([&] {
    uint64_t started = NowMicros();
    while (playing.load()) {
      SleepMicros(1000000);
      for (int device = 1; device <= universes; ++device) api.OmbrixSimClearWrites(device);
      double rss = ResidentMegabytes();
      double at = (NowMicros() - started) / 1e6;
      if (rssEarly == 0 && at >= 10) rssEarly = rss;
      if (playing.load()) rssLate = rss;
      rssMax = std::max(rssMax, rss);
    }
  });
  uint64_t processCpu = ProcessCpuNanos();
  uint64_t threadCpu = ThreadCpuNanos(CurrentTid());
  uint64_t wallStart = NowMicros();
  int code = RunPlay(api, options, hooks);
  double wall = (NowMicros() - wallStart) / 1e6;
  processCpu = ProcessCpuNanos() - processCpu;
  threadCpu = ThreadCpuNanos(CurrentTid()) - threadCpu;
  playing.store(false);
  sampler.join();
  remove(path.c_str());
  if (code != 0) return code;

  Section("lateness of each frame against its recorded offset (" + std::to_string(all.count()) + " frames)");
  Figure("median", all.QuantileMs(0.5), "ms", 0.5, 1.0, true);
  Figure("p99", all.QuantileMs(0.99), "ms", 2.0, 1.0, true);
  Figure("max", all.MaxMs(), "ms");
  std::string span = std::to_string(window / 1000000000) + " s";
  Figure("first " + span + ": median", first.QuantileMs(0.5), "ms");
  Figure("first " + span + ": p99", first.QuantileMs(0.99), "ms");
  Figure("last " + span + ": median", last.QuantileMs(0.5), "ms");
  Figure("last " + span + ": p99", last.QuantileMs(0.99), "ms");
  // "No worse": within one 10 us bucket plus 0.1 ms of noise.
  bool flat =
      last.QuantileMs(0.99) <= first.QuantileMs(0.99) + 0.11 && last.QuantileMs(0.5) <= first.QuantileMs(0.5) + 0.11;
  printf("  last %s no worse than the first (p99 and median within 0.1 ms): %s\n", span.c_str(),
         flat ? "met" : "MISSED");
  Section("CPU over " + std::to_string(static_cast<int>(wall)) + " s");
  double processShare = processCpu / 1e9 / wall * 100;
  double threadShare = threadCpu / 1e9 / wall * 100;
  Figure("process (player and library threads)", processShare, "% core");
  Figure("process, per universe", processShare / universes, "% core");
  Figure("player thread, per universe", threadShare / universes, "% core");
  Section("resident memory");
  Figure("10 s in", rssEarly, "MB");
  Figure("at the end", rssLate, "MB");
  Figure("largest", rssMax, "MB");
  printf("  flat (the end within 1 MB of 10 s in): %s\n", rssLate <= rssEarly + 1.0 ? "met" : "MISSED");
  return 0;
}
