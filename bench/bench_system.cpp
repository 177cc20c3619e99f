// Figures of the machinery around the output: I/O-thread CPU with idle
// links, registration and close times, and input throughput.
#include <atomic>
#include <cstdio>
#include <ctime>

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

uint64_t ProcessCpuNanos() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void IdleCpu() {
  auto links = OpenLinks(32, true, 2);
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
  Figure("I/O-thread CPU, 32 idle links in mode 2", ioPercent, "% of core", 1.0, 1.0, true);
  Figure("whole process CPU (all threads, simulator included)", processPercent, "% of core", 1.0);
  CloseLinks();
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

void RunIdleCpuBenchmark() { IdleCpu(); }

void RunSystemBenchmarks() {
  Section("I/O-thread CPU (ratio to the target of 1 % of one core)");
  IdleCpu();
  Section("Registration (waits until every link is parked)");
  for (int count : {1, 8, 32}) RegistrationTime(count);
  Section("Closing");
  CloseAllTime();
  Section("Input (limit 1000 blocks/s per link)");
  for (int count : {1, 32}) InputBlocks(count);
}

}  // namespace ombrix_bench
