// Scaffolding of the benchmarks: simulated links that behave like the
// hardware (a full-speed interface served once per 1 ms USB frame: a write
// completes at the next frame boundary), the clock, CPU time, and the way
// figures are printed.
#ifndef OMBRIX_BENCH_SUPPORT_H
#define OMBRIX_BENCH_SUPPORT_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ombrix_usb.h"
#include "ombrix_usb_sim.h"
#include "registry/shared_bytes.h"

namespace ombrix_bench {

constexpr double kReportLimit = 1000.0;                 // reports/s one link can carry
constexpr double kUniverseLimit = kReportLimit / 16.0;  // full universes/s

using Serial = std::array<uint8_t, 16>;

struct BenchLink {
  Serial serial{};
  int32_t device = 0;
  // Shared with the I/O thread: touched only through Store and Load.
  alignas(64) uint8_t output[512] = {};
  alignas(64) uint8_t input[512] = {};
  void Store(int channel, uint8_t value) { ombrix::StoreSharedByte(output + channel, value); }
  uint8_t Load(int channel) const { return ombrix::LoadSharedByte(output + channel); }
};

constexpr uint32_t kFrameMicros = 1000;

// Resets the simulator and opens count links in the given mode, polled
// (with an output buffer) or queue-mode, and waits until the first output
// has gone out, so that measurements start from a settled link. The
// devices are framed (OMBRIX_SIM_WRITE_FRAMED, 1000 us) unless another
// write behaviour is given; it always takes kFrameMicros.
std::vector<std::unique_ptr<BenchLink>> OpenLinks(int count, bool polled, int mode,
                                                  int32_t writeBehaviour = OMBRIX_SIM_WRITE_FRAMED);
void CloseLinks();

uint64_t NowMicros();
void SleepMicros(uint64_t micros);

// CPU time a thread of this process has used, in nanoseconds (0 if the
// thread is unknown); tid is the kernel's thread id.
uint64_t ThreadCpuNanos(long tid);
long CurrentTid();
// CPU time of the whole process (every thread), in nanoseconds.
uint64_t ProcessCpuNanos();

// Prints "name: value unit", and when limit > 0 the ratio to it, and when
// target > 0 whether the ratio meets it (higher is better unless
// lowerIsBetter).
void Figure(const std::string& name, double value, const std::string& unit, double limit = 0, double target = 0,
            bool lowerIsBetter = false);
void Section(const std::string& title);

// Median and 99th percentile.
void Percentiles(std::vector<double> values, double* median, double* p99);

}  // namespace ombrix_bench

#endif  // OMBRIX_BENCH_SUPPORT_H
