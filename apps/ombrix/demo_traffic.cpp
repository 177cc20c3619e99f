#include "demo_traffic.h"

#include <algorithm>

namespace ombrix_tool {
namespace {

// The history covers the last ~160 ms at one step per 2 ms, far longer than
// a block waits for its turn on the wire, and fewer steps than it takes a
// block's step counter to come round again.
constexpr size_t kHistorySteps = 80;

// The head moves 100 channels a second at one step per 2 ms.
constexpr uint32_t kStepsPerChannel = 5;
constexpr int kTailChannels = 6;

}  // namespace

uint8_t ChaseValue(int channel, uint32_t step) {
  if (channel % 32 == 31) return static_cast<uint8_t>(step + static_cast<uint32_t>(channel));
  int head = static_cast<int>((step / kStepsPerChannel) % 512);
  int behind = (head - channel + 512) % 512;
  return behind < kTailChannels ? static_cast<uint8_t>(255 - behind * (255 / kTailChannels)) : 0;
}

void StepHistory::Record(uint32_t step, uint64_t atMicros) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_back({step, atMicros});
  if (entries_.size() > kHistorySteps) entries_.pop_front();
}

uint64_t StepHistory::LatencyOf(int block, const uint8_t* data, uint64_t startMicros) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    if (entry->atMicros > startMicros) continue;
    bool same = true;
    for (int i = 0; i < 32 && same; ++i) same = ChaseValue(block * 32 + i, entry->step) == data[i];
    if (same) return startMicros - entry->atMicros;
  }
  return 0;
}

WireFigures DrainWireLog(const Api& api, int32_t device, const StepHistory* history) {
  WireFigures figures;
  uint8_t report[64];
  uint32_t index = 0;
  // Counted twice: what arrived while the first part was read is taken too.
  for (int round = 0; round < 2; ++round) {
    uint32_t count = api.OmbrixSimWriteCount(device);
    for (; index < count; ++index) {
      uint64_t start = 0;
      if (api.OmbrixSimGetWrite(device, index, report, sizeof(report), &start) != 34) continue;
      ++figures.reports;
      // Type bytes 0x00-0x0F are polled blocks, 0x20-0x2F the frame variant
      // of queue mode on the newer products.
      uint8_t type = report[1];
      int block = type < 0x10 ? type : (type >= 0x20 && type < 0x30) ? type - 0x20 : -1;
      if (block < 0) continue;
      ++figures.dmxReports;
      if (block == 15) ++figures.universes;
      if (history != nullptr) {
        uint64_t latency = history->LatencyOf(block, report + 2, start);
        if (latency != 0) figures.latencies.push_back(latency);
      }
    }
  }
  api.OmbrixSimClearWrites(device);
  return figures;
}

void Percentiles(std::vector<uint64_t> latencies, double* median, double* p99) {
  *median = 0;
  *p99 = 0;
  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  *median = latencies[latencies.size() / 2] / 1000.0;
  *p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)] / 1000.0;
}

}  // namespace ombrix_tool
