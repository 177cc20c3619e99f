// The simulated interfaces' own behaviour, as the library meets it: the
// framed write clock and input reports without any bytes.
#include <chrono>
#include <cstring>

#include "sim_fixture.h"

using namespace ombrix_test;

namespace {

class SimBehaviourTest : public SimTest {};

struct LoggedWrite {
  Bytes bytes;
  uint64_t startMicros;
};

std::vector<LoggedWrite> WritesWithTimes(int32_t device) {
  std::vector<LoggedWrite> writes;
  for (uint32_t i = 0; i < OmbrixSimWriteCount(device); ++i) {
    LoggedWrite write{Bytes(64), 0};
    int32_t length = OmbrixSimGetWrite(device, i, write.bytes.data(), 64, &write.startMicros);
    write.bytes.resize(static_cast<size_t>(length));
    writes.push_back(write);
  }
  return writes;
}

// A framed device completes a write only at the tick after its start, so
// the next write of the link (started once the previous one completed)
// never starts before that tick: at most one report per frame, whatever
// the host's hand-over costs.
TEST_F(SimBehaviourTest, FramedWritesCompleteAtTheNextTickOfTheFrameClock) {
  constexpr uint64_t kFrame = 20000;  // long frames: scheduling noise stays small beside them
  int32_t device = AddFamilyDevice(0x0830, 0x0106, "FRAMED0000000001");
  ASSERT_EQ(OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_FRAMED, kFrame), 1);
  Serial serial = SerialOf("FRAMED0000000001");
  static uint8_t output[512];
  ASSERT_EQ(OpenLink(serial.data(), output, nullptr), 1);
  ASSERT_EQ(SetInterfaceMode(serial.data(), 2), 1);
  // Mode report, then blocks 0 to 15 one per frame.
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimWriteCount(device) >= 18; }, 10000));
  std::vector<LoggedWrite> writes = WritesWithTimes(device);
  ASSERT_GE(writes.size(), 18u);
  EXPECT_EQ(writes[1].bytes[1], 0x10);  // the mode report
  for (size_t i = 2; i < 18; ++i) EXPECT_EQ(writes[i].bytes[1], i - 2) << "write " << i;
  for (size_t i = 1; i < writes.size(); ++i) {
    uint64_t tick = (writes[i - 1].startMicros / kFrame + 1) * kFrame;
    EXPECT_GE(writes[i].startMicros, tick) << "write " << i << " started before the previous one completed";
  }
  EXPECT_EQ(CloseLink(serial.data()), 1);
}

// A framed write stays outstanding until its tick, whatever the host does
// meanwhile; with no period it completes at once. Behaviours beyond the
// known ones are refused.
TEST_F(SimBehaviourTest, FramedWriteIsPendingUntilItsTickAndZeroDelayCompletesAtOnce) {
  constexpr uint64_t kFrame = 100000;
  int32_t device = AddFamilyDevice(0x0830, 0x0106, "FRAMED0000000001");
  Serial serial = SerialOf("FRAMED0000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 1; }));  // the read
  ASSERT_EQ(OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_FRAMED, kFrame), 1);
  ASSERT_EQ(SetInterfaceMode(serial.data(), 1), 1);
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimWriteCount(device) == 2; }));
  uint64_t start = 0;
  ASSERT_EQ(OmbrixSimGetWrite(device, 1, nullptr, 0, &start), 34);
  uint64_t tick = (start / kFrame + 1) * kFrame;
  // Still outstanding unless its tick has passed by the time we look.
  int32_t pending = OmbrixSimPendingTransfers(device);
  // The simulator's clock: the steady clock in microseconds.
  uint64_t lookedAt = static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
  if (lookedAt + 1000 < tick) {
    EXPECT_EQ(pending, 2);
  }
  EXPECT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 1; }));

  ASSERT_EQ(OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_FRAMED, 0), 1);
  ASSERT_EQ(SetInterfaceMode(serial.data(), 0), 1);
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimWriteCount(device) == 3; }));
  EXPECT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 1; }, 500));
  EXPECT_EQ(OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_FRAMED + 1, 1000), 0);
  EXPECT_EQ(CloseLink(serial.data()), 1);
}

// A report without bytes, queued before any read or handed to an
// outstanding one, reaches the library as a read of 0 bytes, which it
// drops; the link goes on reading.
TEST_F(SimBehaviourTest, EmptyInputReportsAreDeliveredAsEmptyReads) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "EMPTY00000000001");
  Serial serial = SerialOf("EMPTY00000000001");
  Bytes block = InputBlock(4, 0x30);
  EXPECT_EQ(OmbrixSimInjectInput(device, nullptr, 0), 1);  // queued: no read yet
  EXPECT_EQ(OmbrixSimInjectInput(device, block.data(), 0), 1);
  EXPECT_EQ(OmbrixSimInjectInput(device, nullptr, 1), 0);  // bytes promised, none given
  static uint8_t input[512];
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 1; }));
  EXPECT_EQ(OmbrixSimInjectInput(device, nullptr, 0), 1);  // to the outstanding read
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 1; }));
  EXPECT_EQ(OmbrixSimInjectInput(device, block.data(), 34), 1);
  ASSERT_TRUE(WaitUntil([&] { return LoadChannel(input, 4 * 32) == 0x30; }));
  for (int i = 0; i < 4 * 32; ++i) EXPECT_EQ(LoadChannel(input, i), 0) << i;
  EXPECT_EQ(CloseLink(serial.data()), 1);
}

}  // namespace
