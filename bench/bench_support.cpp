#include "bench_support.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace ombrix_bench {

std::vector<std::unique_ptr<BenchLink>> OpenLinks(int count, bool polled, int mode, int32_t writeBehaviour) {
  if (OmbrixSimReset() != 1) {
    fprintf(stderr, "bench: the simulator could not be reset (a handle or transfer is left)\n");
    exit(1);
  }
  std::vector<std::unique_ptr<BenchLink>> links;
  for (int i = 0; i < count; ++i) {
    auto link = std::make_unique<BenchLink>();
    char text[24];
    snprintf(text, sizeof(text), "BENCH%011d", i + 1);
    uint16_t units[16];
    for (int c = 0; c < 16; ++c) {
      link->serial[c] = static_cast<uint8_t>(text[c]);
      units[c] = link->serial[c];
    }
    link->device = OmbrixSimAddDevice(0x16D0, 0x0830, 0x0106, units, 16);
    OmbrixSimSetWriteBehaviour(link->device, writeBehaviour, kFrameMicros);
    if (OpenLink(link->serial.data(), polled ? link->output : nullptr, link->input) != 1) {
      fprintf(stderr, "bench: could not open link %d\n", i + 1);
      exit(1);
    }
    links.push_back(std::move(link));
  }
  for (auto& link : links) SetInterfaceMode(link->serial.data(), mode);
  // The mode report and the first 16 blocks of every link (at 4 blocks per
  // pass with 32 links) are out well within this.
  SleepMicros(300000);
  return links;
}

void CloseLinks() {
  CloseAllLinks();
  OmbrixSimReset();
}

uint64_t NowMicros() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

void SleepMicros(uint64_t micros) {
  timespec request{static_cast<time_t>(micros / 1000000), static_cast<long>(micros % 1000000) * 1000};
  while (nanosleep(&request, &request) != 0) {
  }
}

uint64_t ThreadCpuNanos(long tid) {
  // schedstat's first field is the time on a CPU in nanoseconds, far finer
  // than the clock ticks of stat.
  std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/schedstat");
  uint64_t nanos = 0;
  file >> nanos;
  return nanos;
}

long CurrentTid() { return static_cast<long>(syscall(SYS_gettid)); }

uint64_t ProcessCpuNanos() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void Figure(const std::string& name, double value, const std::string& unit, double limit, double target,
            bool lowerIsBetter) {
  printf("  %-52s %10.3f %-10s", name.c_str(), value, unit.c_str());
  if (limit > 0) {
    double ratio = value / limit;
    printf(" ratio %.3f", ratio);
    if (target > 0) {
      bool met = lowerIsBetter ? ratio <= target : ratio >= target;
      printf(" (target %s %.3f: %s)", lowerIsBetter ? "<=" : ">=", target, met ? "met" : "MISSED");
    }
  }
  printf("\n");
  fflush(stdout);
}

void Section(const std::string& title) {
  printf("\n%s\n", title.c_str());
  fflush(stdout);
}

void Percentiles(std::vector<double> values, double* median, double* p99) {
  *median = 0;
  *p99 = 0;
  if (values.empty()) return;
  std::sort(values.begin(), values.end());
  *median = values[values.size() / 2];
  *p99 = values[std::min(values.size() - 1, values.size() * 99 / 100)];
}

}  // namespace ombrix_bench
