#include "output/frame_queue.h"

#include <cstring>

#include "io/reports.h"
#include "registry/shared_bytes.h"

namespace ombrix {
namespace {

uint8_t Advance(uint8_t position) { return static_cast<uint8_t>((position + 1) % kQueueSlots); }

}  // namespace

void QueueReset(Link& link) {
  link.queueWrite.store(0, std::memory_order_release);
  link.queueRead.store(0, std::memory_order_release);
  link.frameCursor = Link::kNoFrame;
}

int QueuePushFrame(Link& link, const uint8_t* universe) {
  // Two producers must not fill the same slot: one would publish a slot the
  // other is still writing.
  platform::LockGuard guard(link.producerLock);
  uint8_t write = link.queueWrite.load(std::memory_order_relaxed);  // own index
  uint8_t read = link.queueRead.load(std::memory_order_acquire);
  if (Advance(write) == read) return -1;  // one slot always stays free
  std::memcpy(link.queueSlots[write], universe, kUniverseBytes);
  link.queueWrite.store(Advance(write), std::memory_order_release);
  return 1;
}

int QueuePopFrame(Link& link) {
  uint8_t read = link.queueRead.load(std::memory_order_relaxed);  // own index
  uint8_t write = link.queueWrite.load(std::memory_order_acquire);
  if (read == write) return -1;
  std::memcpy(link.sendFrame, link.queueSlots[read], kUniverseBytes);
  link.queueRead.store(Advance(read), std::memory_order_release);
  return 1;
}

bool QueueOutputStep(Link& link) {
  if (link.frameCursor >= 0 && link.frameCursor < kBlockCount) {
    int block = link.frameCursor;
    BuildDmxBlockReport(link.txPayload, BlockReportType(link, block, true), link.sendFrame + block * kBlockBytes);
    link.blockCursor = block;
    link.blockInFlight = 1;
    ++link.frameCursor;
    return true;
  }
  // Between frames: take up the newest one, dropping any older ones.
  bool popped = false;
  while (QueuePopFrame(link) == 1) popped = true;
  if (popped) link.frameCursor = 0;
  return false;
}

bool PolledOutputStep(Link& link, int blocksPerPass) {
  for (int examined = 0; examined < blocksPerPass; ++examined) {
    int block = link.blockCursor;
    const uint8_t* shared = link.outputUniverse + block * kBlockBytes;
    if (link.blockDirty[block] != 0 || !SharedBlockEquals<kBlockBytes>(shared, link.sentShadow + block * kBlockBytes)) {
      // The report carries the block as it is now; its completion records
      // what was sent in sentShadow, and blockCursor stays on the block
      // until then.
      uint8_t current[kBlockBytes];
      LoadSharedBlock<kBlockBytes>(current, shared);
      BuildDmxBlockReport(link.txPayload, BlockReportType(link, block, false), current);
      link.blockInFlight = 1;
      return true;
    }
    link.blockCursor = (block + 1) % kBlockCount;
  }
  return false;
}

}  // namespace ombrix
