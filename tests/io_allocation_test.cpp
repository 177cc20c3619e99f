// The I/O thread's passes allocate nothing: every buffer of a pass is a
// fixed part of the link or of the thread's stack. Checked with a counting
// allocator that replaces the global operator new of this test program and
// counts only on the I/O thread, which the program learns through the
// input-block callback (it runs on that thread).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "sim_fixture.h"

namespace {

OMBRIX_THREAD_LOCAL bool t_ioThread = false;
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void* CountedAllocation(std::size_t size) {
  if (t_ioThread && g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1);
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// The replacements pair operator new with malloc and operator delete with
// free; the compiler cannot see that pairing from here.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  void* memory = CountedAllocation(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocation(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return CountedAllocation(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

using namespace ombrix_test;

namespace {

void OMBRIX_CALL MarkIoThread(uint32_t) { t_ioThread = true; }

struct TestLink {
  int32_t device;
  Serial serial;
  bool polled;
  alignas(64) uint8_t output[512] = {};
  uint8_t input[512] = {};
};

class IoAllocationTest : public SimTest {
 protected:
  void TearDown() override {
    g_counting.store(false);
    SimTest::TearDown();
  }

  // Polled links get an output buffer, the others are fed through the queue.
  void OpenLinks(int polled, int queued) {
    for (int i = 0; i < polled + queued; ++i) {
      auto link = std::make_unique<TestLink>();
      char text[17];
      std::snprintf(text, sizeof text, "ALLOC%011d", i);
      link->device = AddFamilyDevice(i % 2 == 0 ? 0x0830 : 0x0833, 0x0100, text);
      link->serial = SerialOf(text);
      link->polled = i < polled;
      OmbrixSimSetWriteBehaviour(link->device, OMBRIX_SIM_WRITE_FRAMED, 1000);
      ASSERT_EQ(OpenLink(link->serial.data(), link->polled ? link->output : nullptr, link->input), 1);
      ASSERT_EQ(SetInterfaceMode(link->serial.data(), 2), 1);
      links_.push_back(std::move(link));
    }
    // Learn the I/O thread, and let one input block through the decoder.
    ASSERT_EQ(RegisterInputChangeBlockNotification(MarkIoThread), 1);
    Bytes block = InputBlock(0, 1);
    OmbrixSimInjectInput(links_[0]->device, block.data(), 34);
    ASSERT_TRUE(WaitUntil([&] { return LoadChannel(links_[0]->input, 0) == 1; }));
  }

  // Changes every channel of every polled link and sends a universe to
  // every queued link, round after round, for about the given time.
  void Traffic(int rounds) {
    for (int round = 1; round <= rounds; ++round) {
      std::array<uint8_t, 512> universe;
      universe.fill(static_cast<uint8_t>(round));
      for (auto& link : links_) {
        if (link->polled) {
          for (int channel = 0; channel < 512; ++channel) StoreChannel(link->output, channel, universe[0]);
        } else {
          SendDmxUniverse(link->serial.data(), universe.data());
        }
      }
      ombrix::platform::SleepMillis(2);
    }
  }

  uint32_t TotalWrites() {
    uint32_t total = 0;
    for (auto& link : links_) total += OmbrixSimWriteCount(link->device);
    return total;
  }

  // True once the last report of every block carries what the buffer now
  // holds: the polled link has nothing left to send.
  static bool PolledOutputIsOut(const TestLink& link) {
    bool seen[16] = {};
    int blocks = 0;
    std::vector<Bytes> writes = Writes(link.device);
    for (auto write = writes.rbegin(); write != writes.rend() && blocks < 16; ++write) {
      if (write->size() != 34 || (*write)[1] >= 16 || seen[(*write)[1]]) continue;
      int block = (*write)[1];
      for (int i = 0; i < 32; ++i) {
        if ((*write)[2 + i] != LoadChannel(link.output, block * 32 + i)) return false;
      }
      seen[block] = true;
      ++blocks;
    }
    return blocks == 16;
  }

  // Until every change and every queued universe is on the wire, so that
  // no link has anything left to send (each queued link is ended with a
  // universe of marker, which Traffic never sends). Waiting for a quiet
  // spell instead would let an I/O thread stalled for longer than the
  // spell write on while the counts are compared.
  void WaitForTrafficOut(uint8_t marker) {
    for (auto& link : links_) {
      if (link->polled) {
        ASSERT_TRUE(WaitUntil([&] { return PolledOutputIsOut(*link); }, 10000));
      } else {
        ASSERT_TRUE(SendUntilLastFrameIsOut(link->device, link->serial, marker, marker + 20));
      }
    }
  }

  std::vector<std::unique_ptr<TestLink>> links_;
};

TEST_F(IoAllocationTest, IdleAndBusyPassesAllocateNothing) {
  OpenLinks(4, 2);
  // Warm-up: the simulator's write logs grow to more than the busy window
  // needs, so that while counting each logged write costs exactly one
  // allocation of the simulator's (its copy of the report).
  Traffic(150);
  WaitForTrafficOut(200);
  for (auto& link : links_) OmbrixSimClearWrites(link->device);

  // Idle: every link waits on its read, the I/O thread passes every 2 ms.
  g_allocations.store(0);
  g_counting.store(true);
  ombrix::platform::SleepMillis(200);
  EXPECT_EQ(g_allocations.load(), static_cast<long>(TotalWrites()));
  g_counting.store(false);
  for (auto& link : links_) OmbrixSimClearWrites(link->device);
  g_allocations.store(0);
  g_counting.store(true);

  // Busy: polled blocks and queued frames on every link.
  Traffic(50);
  WaitForTrafficOut(230);
  g_counting.store(false);
  uint32_t writes = TotalWrites();
  EXPECT_GT(writes, 6u * 16u);
  EXPECT_EQ(g_allocations.load(), static_cast<long>(writes)) << "allocations beyond the simulator's write log";
  UnregisterInputChangeBlockNotification();
}

}  // namespace
