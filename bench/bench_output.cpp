// Output figures: polled reports/s, queue-mode universes/s and the latency
// from a change in the output buffer to the start of the write carrying it,
// on framed devices; and on devices that complete a fixed delay after the
// start, the hand-over from one write's completion to the next one's start.
#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

#include "bench_support.h"

namespace ombrix_bench {
namespace {

constexpr uint64_t kWindowMicros = 3000000;

// Counts the writes each device accepted during one window.
std::vector<uint32_t> WritesDuring(const std::vector<std::unique_ptr<BenchLink>>& links, uint64_t micros) {
  std::vector<uint32_t> before;
  for (auto& link : links) before.push_back(OmbrixSimWriteCount(link->device));
  SleepMicros(micros);
  std::vector<uint32_t> counts;
  for (size_t i = 0; i < links.size(); ++i) counts.push_back(OmbrixSimWriteCount(links[i]->device) - before[i]);
  return counts;
}

// Every channel changes every 4 ms, well within the 16 frames that a round
// of all 16 blocks takes, so every block is always due and the link is never
// short of work: what is measured is the link. (More often would only add
// wake-ups of this thread competing with the library's.)
class Churn {
 public:
  explicit Churn(const std::vector<std::unique_ptr<BenchLink>>& links)
      : thread_([this, &links] {
          for (uint8_t value = 1; running_.load(); ++value) {
            for (auto& link : links) {
              for (int channel = 0; channel < 512; ++channel) link->Store(channel, value);
            }
            SleepMicros(4000);
          }
        }) {}
  ~Churn() {
    running_.store(false);
    thread_.join();
  }

 private:
  std::atomic<bool> running_{true};
  std::thread thread_;
};

void PolledReports(int count) {
  auto links = OpenLinks(count, true, 2);
  std::vector<uint32_t> counts;
  {
    Churn churn(links);
    SleepMicros(200000);
    counts = WritesDuring(links, kWindowMicros);
  }
  double seconds = kWindowMicros / 1e6;
  double lowest = 1e9;
  double sum = 0;
  for (uint32_t c : counts) {
    lowest = std::min(lowest, c / seconds);
    sum += c / seconds;
  }
  std::string what = "polled reports/s per link, " + std::to_string(count) + (count == 1 ? " link" : " links");
  Figure(what + " (mean)", sum / count, "reports/s", kReportLimit, 0.995);
  if (count > 1) Figure(what + " (lowest)", lowest, "reports/s", kReportLimit, 0.995);
  CloseLinks();
}

void QueueUniverses(int count) {
  auto links = OpenLinks(count, false, 2);
  // New universes come faster than the wire takes them: the library keeps
  // the newest, so every frame it finishes is followed by another at once.
  std::atomic<bool> running{true};
  std::thread submit([&] {
    uint8_t frame[512];
    for (uint8_t value = 1; running.load(); ++value) {
      for (uint8_t& channel : frame) channel = value;
      for (auto& link : links) SendDmxUniverse(link->serial.data(), frame);
      SleepMicros(2000);
    }
  });
  SleepMicros(200000);
  std::vector<uint32_t> start;
  for (auto& link : links) start.push_back(OmbrixSimWriteCount(link->device));
  SleepMicros(kWindowMicros);
  double sum = 0;
  for (size_t i = 0; i < links.size(); ++i) {
    uint32_t end = OmbrixSimWriteCount(links[i]->device);
    uint32_t universes = 0;
    uint8_t report[64];
    for (uint32_t w = start[i]; w < end; ++w) {
      if (OmbrixSimGetWrite(links[i]->device, w, report, sizeof(report), nullptr) == 34 && report[1] == 15) ++universes;
    }
    sum += universes / (kWindowMicros / 1e6);
  }
  running.store(false);
  submit.join();
  Figure("queue-mode universes/s per link, " + std::to_string(count) + (count == 1 ? " link" : " links"), sum / count,
         "univ/s", kUniverseLimit, 0.88);
  CloseLinks();
}

struct Change {
  size_t link;
  int channel;
  uint8_t value;
  uint64_t atMicros;
};

// Finds the first write of the changed block, started after the change,
// that carries the new value. *cursor is the first write that started
// after the previous change: changes are made one after another, so it only
// moves forward, while the writes that carry them may go out in another
// order (after a stall, a burst of blocks goes out in block order).
bool WireLatency(const BenchLink& link, const Change& change, uint32_t* cursor, double* millis) {
  uint32_t count = OmbrixSimWriteCount(link.device);
  uint8_t report[64];
  uint64_t start = 0;
  while (*cursor < count && OmbrixSimGetWrite(link.device, *cursor, nullptr, 0, &start) != 0 &&
         start < change.atMicros) {
    ++*cursor;
  }
  for (uint32_t w = *cursor; w < count; ++w) {
    if (OmbrixSimGetWrite(link.device, w, report, sizeof(report), &start) != 34) continue;
    if (report[1] != change.channel / 32 || report[2 + change.channel % 32] != change.value) continue;
    *millis = (start - change.atMicros) / 1000.0;
    return true;
  }
  return false;
}

void ChangeLatency(int count) {
  auto links = OpenLinks(count, true, 2);
  std::mt19937 random(12345);
  std::vector<Change> changes;
  // One change at a time on an otherwise idle set of links, at irregular
  // gaps so that changes fall at every phase of the I/O thread's pass. Each
  // change gives its channel a value it does not have yet, so that every
  // change needs a write and no later write can be taken for it.
  for (int i = 0; i < 600; ++i) {
    Change change{static_cast<size_t>(i % count), static_cast<int>(random() % 512), 0, 0};
    uint8_t previous = links[change.link]->Load(change.channel);
    change.value = static_cast<uint8_t>(previous + 1 + i % 200);
    change.atMicros = NowMicros();
    links[change.link]->Store(change.channel, change.value);
    changes.push_back(change);
    SleepMicros(3000 + random() % 4000);
  }
  SleepMicros(100000);
  // The log is read only after the run, so that reading it does not compete
  // with the I/O thread for the simulator.
  std::vector<double> latencies;
  std::vector<uint32_t> cursors(links.size(), 0);
  int lost = 0;
  for (const Change& change : changes) {
    double millis = 0;
    if (WireLatency(*links[change.link], change, &cursors[change.link], &millis)) {
      latencies.push_back(millis);
    } else {
      ++lost;
    }
  }
  double median = 0;
  double p99 = 0;
  Percentiles(latencies, &median, &p99);
  std::string links_text = std::to_string(count) + (count == 1 ? " link" : " links");
  Figure("change-to-wire latency median, " + links_text, median, "ms", 1.5, count == 1 ? 1.0 : 0, true);
  Figure("change-to-wire latency p99, " + links_text, p99, "ms", 3.0, count == 1 ? 1.0 : 0, true);
  if (lost != 0) printf("  (%d of %zu changes never reached the wire)\n", lost, changes.size());
  CloseLinks();
}

// On devices that complete each write 1000 us after its start, every
// report costs that plus the host's hand-over: the time from the write's
// completion (its due time on the device clock) to the start of the next
// write of the link, which takes the device clock's and the I/O thread's
// wake-ups. A figure to watch, not a goal: on some virtual machines one
// wake-up alone takes 50-80 us.
void HandOver(int count) {
  auto links = OpenLinks(count, true, 2, OMBRIX_SIM_WRITE_COMPLETE);
  std::vector<uint32_t> start;
  std::vector<uint32_t> end;
  {
    Churn churn(links);
    SleepMicros(200000);
    for (auto& link : links) start.push_back(OmbrixSimWriteCount(link->device));
    SleepMicros(kWindowMicros);
    for (auto& link : links) end.push_back(OmbrixSimWriteCount(link->device));
  }
  std::vector<double> gaps;
  for (size_t i = 0; i < links.size(); ++i) {
    uint64_t previous = 0;
    for (uint32_t w = start[i]; w < end[i]; ++w) {
      uint64_t begun = 0;
      if (OmbrixSimGetWrite(links[i]->device, w, nullptr, 0, &begun) == 0) continue;
      if (previous != 0) gaps.push_back(static_cast<double>(begun - previous - kFrameMicros));
      previous = begun;
    }
  }
  double median = 0;
  double p99 = 0;
  Percentiles(gaps, &median, &p99);
  double reports = 0;
  for (size_t i = 0; i < links.size(); ++i) reports += (end[i] - start[i]) / (kWindowMicros / 1e6);
  std::string links_text = std::to_string(count) + (count == 1 ? " link" : " links");
  Figure("hand-over median, " + links_text, median, "us");
  Figure("hand-over p99, " + links_text, p99, "us");
  Figure("polled reports/s per link at that hand-over, " + links_text, reports / count, "reports/s", kReportLimit);
  CloseLinks();
}

}  // namespace

void RunOutputBenchmarks(const std::string& only) {
  if (only.empty() || only == "polled") {
    Section(
        "Polled output (framed devices: a write completes at the next 1 ms frame boundary;"
        " limit 1000 reports/s per link)");
    for (int count : {1, 8, 32}) PolledReports(count);
  }
  if (only.empty() || only == "queue") {
    Section("Queue-mode output, framed (limit 62.5 universes/s per link)");
    for (int count : {1, 8}) QueueUniverses(count);
  }
  if (only.empty() || only == "latency") {
    Section("Change-to-wire latency, framed (ratio to the target: median 1.5 ms, p99 3 ms)");
    for (int count : {1, 32}) ChangeLatency(count);
  }
  if (only.empty() || only == "handover") {
    Section("Hand-over (devices completing 1000 us after the start: the host's time per report on top)");
    for (int count : {1, 32}) HandOver(count);
  }
}

}  // namespace ombrix_bench
