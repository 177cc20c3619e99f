// Figures of the machinery around the output: I/O-thread CPU with idle
// links, registration and close times, and input throughput.
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "bench_support.h"

namespace ombrix_bench {
namespace {

std::atomic<long> g_ioThreadTid{0};
std::atomic<uint64_t> g_inputBlocks{0};

// Runs on the I/O thread: the one place where the benchmark can learn that
// thread's id through the public API.
void OMBRIX_CALL NoteIoThread(uint32_t) { g_ioThreadTid.store(CurrentTid()); }
void OMBRIX_CALL CountBlock(uint32_t) { g_inputBlocks.fetch_add(1, std::memory_order_relaxed); }
void OMBRIX_CALL IgnoreInputChange() {}

// Idle links in mode 2: every block sent, nothing changes, each link waits
// on its read, so the I/O thread makes a pass every 2 ms (its wait) and
// sends nothing. The whole process counts: the library's threads, the
// simulator's device clock and this program's sleeping main thread.
double IdleCpu(int count, double goalPercent) {
  auto links = OpenLinks(count, true, 2);
  g_ioThreadTid.store(0);
  RegisterInputChangeBlockNotification(NoteIoThread);
  uint8_t block[34] = {0, 0};
  OmbrixSimInjectInput(links[0]->device, block, sizeof(block));
  for (int i = 0; i < 1000 && g_ioThreadTid.load() == 0; ++i) SleepMicros(1000);
  UnregisterInputChangeBlockNotification();
  long tid = g_ioThreadTid.load();
  SleepMicros(300000);

  constexpr uint64_t kWindow = 5000000;
  uint64_t ioBefore = ThreadCpuNanos(tid);
  uint64_t processBefore = ProcessCpuNanos();
  uint64_t start = NowMicros();
  SleepMicros(kWindow);
  double elapsed = (NowMicros() - start) * 1000.0;
  double ioPercent = (ThreadCpuNanos(tid) - ioBefore) / elapsed * 100.0;
  double processPercent = (ProcessCpuNanos() - processBefore) / elapsed * 100.0;
  std::string links_text = std::to_string(count) + (count == 1 ? " idle link" : " idle links");
  Figure("whole process CPU, " + links_text + " in mode 2", processPercent, "% of core", goalPercent, 1.0, true);
  Figure("  of which the I/O thread", ioPercent, "% of core");
  CloseLinks();
  return processPercent;
}

// What the machine charges for waking a thread 500 times a second, as the
// I/O thread's 2 ms wait does with idle links: a thread that does nothing
// else. On a virtual machine under load this alone can exceed the goals.
double WakeFloorCpu() {
  constexpr int kWakes = 2500;
  uint64_t cpu = 0;
  uint64_t start = NowMicros();
  std::thread sleeper([&] {
    uint64_t before = ThreadCpuNanos(CurrentTid());
    for (int i = 0; i < kWakes; ++i) SleepMicros(2000);
    cpu = ThreadCpuNanos(CurrentTid()) - before;
  });
  sleeper.join();
  double elapsed = (NowMicros() - start) * 1000.0;
  double percent = cpu / elapsed * 100.0;
  Figure("for reference: a bare thread waking every 2 ms", percent, "% of core");
  return percent;
}

// The process-wide registration parks every link before it returns.
void RegistrationTime(int count) {
  auto links = OpenLinks(count, true, 2);
  // Few rounds: with 32 links one call takes a good part of a second.
  constexpr int kRounds = 5;
  uint64_t start = NowMicros();
  for (int i = 0; i < kRounds; ++i) {
    RegisterInputChangeNotification(IgnoreInputChange);
    UnregisterInputChangeNotification();
  }
  double process = (NowMicros() - start) / 1000.0 / (2 * kRounds);
  start = NowMicros();
  for (int i = 0; i < kRounds; ++i) {
    RegisterInputChangeBlockNotificationSerial(links[0]->serial.data(), nullptr);
    UnregisterInputChangeBlockNotificationSerial(links[0]->serial.data());
  }
  double perLink = (NowMicros() - start) / 1000.0 / (2 * kRounds);
  std::string links_text = std::to_string(count) + (count == 1 ? " link" : " links");
  Figure("process-wide (un)registration, " + links_text, process, "ms/call");
  Figure("per-link (un)registration, " + links_text, perLink, "ms/call");
  CloseLinks();
}

void CloseAllTime() {
  auto links = OpenLinks(32, true, 2);
  uint64_t start = NowMicros();
  int32_t result = CloseAllLinks();
  double millis = (NowMicros() - start) / 1000.0;
  Figure("CloseAllLinks with 32 links", millis, "ms");
  if (result != 1 || OmbrixSimLibraryThreads() != 0) printf("  (CloseAllLinks did not close everything)\n");
  CloseLinks();
}

void InputBlocks(int count) {
  auto links = OpenLinks(count, true, 0);
  RegisterInputChangeBlockNotification(CountBlock);
  for (auto& link : links) OmbrixSimStreamInput(link->device, 1000);
  SleepMicros(200000);
  constexpr uint64_t kWindow = 3000000;
  uint64_t before = g_inputBlocks.load();
  uint64_t start = NowMicros();
  SleepMicros(kWindow);
  double seconds = (NowMicros() - start) / 1e6;
  double perLink = (g_inputBlocks.load() - before) / seconds / count;
  for (auto& link : links) OmbrixSimStreamInput(link->device, 0);
  UnregisterInputChangeBlockNotification();
  Figure("input blocks/s per link, streaming 1/ms, " + std::to_string(count) + (count == 1 ? " link" : " links"),
         perLink, "blocks/s", 1000.0);
  CloseLinks();
}

}  // namespace

void RunIdleCpuBenchmark(int count) { IdleCpu(count, count == 1 ? 0.5 : 0.8); }

// The idle figures beside what the machine charges for the wake-ups alone,
// taken right after them so that both see the same load.
void IdleCpuWithFloor() {
  double one = IdleCpu(1, 0.5);
  double many = IdleCpu(32, 0.8);
  double floor = WakeFloorCpu();
  Figure("beyond the bare wake-ups, 1 idle link", one - floor, "% of core");
  Figure("beyond the bare wake-ups, 32 idle links", many - floor, "% of core");
}

void RunSystemBenchmarks(const std::string& only) {
  if (only.empty() || only == "cpu") {
    Section("CPU with idle links (ratio to the goal: 0.5 % of one core with 1 link, 0.8 % with 32)");
    IdleCpuWithFloor();
  }
  if (!only.empty()) return;
  Section("Registration (waits until every link is parked)");
  for (int count : {1, 8, 32}) RegistrationTime(count);
  Section("Closing");
  CloseAllTime();
  Section("Input (limit 1000 blocks/s per link)");
  for (int count : {1, 32}) InputBlocks(count);
}

}  // namespace ombrix_bench
