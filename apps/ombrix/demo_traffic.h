// The demo's traffic: a chase that moves across all 512 channels of both
// interfaces, and the figures read back from the simulated wire.
#ifndef OMBRIX_TOOL_DEMO_TRAFFIC_H
#define OMBRIX_TOOL_DEMO_TRAFFIC_H

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "client/link_guard.h"

namespace ombrix_tool {

// Channel value of the chase at a step: a bright head with a fading tail
// that runs along the universe one channel per five steps, which the eye
// can follow, and in the last channel of every 32-channel block a step
// counter, so that every block changes at every step (the polled link
// always has something to send) and no block repeats within 256 steps.
uint8_t ChaseValue(int channel, uint32_t step);

// When each chase step reached the polled output buffer, kept for the last
// steps only, so that a block seen on the wire can be traced back to the
// moment its content appeared.
class StepHistory {
 public:
  void Record(uint32_t step, uint64_t atMicros);
  // Latency of a block that started on the wire at startMicros: the newest
  // step no later than that whose block content matches, 0 when none does
  // (a block copied while the chase was half-way through writing it).
  uint64_t LatencyOf(int block, const uint8_t* data, uint64_t startMicros) const;

 private:
  struct Entry {
    uint32_t step;
    uint64_t atMicros;
  };
  mutable std::mutex mutex_;
  std::deque<Entry> entries_;
};

// What one interface's wire carried over one interval.
struct WireFigures {
  uint64_t reports = 0;             // every write, DMX or not
  uint64_t dmxReports = 0;          // DMX block reports
  uint64_t universes = 0;           // block 15 written: one universe complete
  std::vector<uint64_t> latencies;  // micros, polled link only
};

// Takes the simulated device's write log and empties it, so that a long
// demo does not grow it without end. A write that lands between the last
// count and the clear is lost to the figures, which costs at most a report
// or two per second.
WireFigures DrainWireLog(const Api& api, int32_t device, const StepHistory* history);

// Median and 99th percentile of latencies, in milliseconds.
void Percentiles(std::vector<uint64_t> latencies, double* median, double* p99);

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_DEMO_TRAFFIC_H
