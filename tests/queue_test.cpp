// The frame queue's ring rules and its hand-over between one producer and
// the consumer, plus SendDmxUniverse's results.
#include <atomic>
#include <cstring>

#include "output/frame_queue.h"
#include "sim_fixture.h"

using namespace ombrix;
using namespace ombrix_test;

namespace {

std::array<uint8_t, kUniverseBytes> Universe(uint8_t value) {
  std::array<uint8_t, kUniverseBytes> universe;
  universe.fill(value);
  return universe;
}

TEST(FrameQueueTest, HoldsFourFramesAndPopsInOrder) {
  Link link;
  QueueReset(link);
  EXPECT_EQ(link.frameCursor, 16);
  EXPECT_EQ(QueuePopFrame(link), -1);  // empty
  for (uint8_t value = 1; value <= 4; ++value) EXPECT_EQ(QueuePushFrame(link, Universe(value).data()), 1);
  EXPECT_EQ(QueuePushFrame(link, Universe(5).data()), -1);  // one slot stays free
  for (uint8_t value = 1; value <= 4; ++value) {
    ASSERT_EQ(QueuePopFrame(link), 1);
    EXPECT_EQ(link.sendFrame[0], value);
    EXPECT_EQ(link.sendFrame[511], value);
  }
  EXPECT_EQ(QueuePopFrame(link), -1);
}

TEST(FrameQueueTest, WrapsAroundTheRing) {
  Link link;
  QueueReset(link);
  for (int round = 0; round < 12; ++round) {
    ASSERT_EQ(QueuePushFrame(link, Universe(static_cast<uint8_t>(round)).data()), 1);
    ASSERT_EQ(QueuePushFrame(link, Universe(static_cast<uint8_t>(round + 100)).data()), 1);
    ASSERT_EQ(QueuePopFrame(link), 1);
    EXPECT_EQ(link.sendFrame[7], round);
    ASSERT_EQ(QueuePopFrame(link), 1);
    EXPECT_EQ(link.sendFrame[7], round + 100);
  }
}

TEST(FrameQueueTest, OutputStepSendsTheNewestFrameInFull) {
  Link link;
  link.vendorId = 0x16D0;
  link.productId = 0x0833;
  QueueReset(link);
  for (uint8_t value = 1; value <= 3; ++value) QueuePushFrame(link, Universe(value).data());
  // Between frames the step takes up the newest and sends nothing yet.
  EXPECT_FALSE(QueueOutputStep(link));
  EXPECT_EQ(link.frameCursor, 0);
  EXPECT_EQ(link.sendFrame[0], 3);
  // A frame arriving meanwhile waits until this one is out.
  QueuePushFrame(link, Universe(9).data());
  for (int block = 0; block < kBlockCount; ++block) {
    ASSERT_TRUE(QueueOutputStep(link));
    EXPECT_EQ(link.txPayload[0], 0x20 + block);
    EXPECT_EQ(link.txPayload[1], 3);
    EXPECT_EQ(link.blockCursor, block);
    EXPECT_EQ(link.blockInFlight, 1);
  }
  EXPECT_EQ(link.frameCursor, 16);
  EXPECT_FALSE(QueueOutputStep(link));
  EXPECT_EQ(link.sendFrame[0], 9);
  // Once the last frame is out nothing more is sent.
  for (int block = 0; block < kBlockCount; ++block) ASSERT_TRUE(QueueOutputStep(link));
  EXPECT_FALSE(QueueOutputStep(link));
  EXPECT_FALSE(QueueOutputStep(link));
  EXPECT_EQ(link.frameCursor, 16);
}

// One producer, one consumer: every frame the consumer takes is whole (all
// 512 bytes from one push) and frames never go backwards.
TEST(FrameQueueTest, ProducerAndConsumerHandOverWholeFrames) {
  Link link;
  QueueReset(link);
  constexpr int kFrames = 20000;
  std::atomic<bool> done{false};
  TestThread producer([&] {
    std::array<uint8_t, kUniverseBytes> universe;
    for (int frame = 1; frame <= kFrames; ++frame) {
      universe.fill(static_cast<uint8_t>(frame));
      universe[0] = static_cast<uint8_t>(frame >> 8);
      while (QueuePushFrame(link, universe.data()) != 1) {
      }
    }
    done.store(true);
  });
  int last = 0;
  int taken = 0;
  for (;;) {
    bool finished = done.load();
    while (QueuePopFrame(link) == 1) {
      int frame = (link.sendFrame[0] << 8) | link.sendFrame[1];
      for (int i = 1; i < kUniverseBytes; ++i) ASSERT_EQ(link.sendFrame[i], link.sendFrame[1]) << "torn frame";
      ASSERT_GT(frame, last);
      last = frame;
      ++taken;
    }
    if (finished) break;
  }
  producer.Join();
  EXPECT_EQ(last, kFrames);
  EXPECT_EQ(taken, kFrames);  // the producer waits when full, so none is lost
}

class SendUniverseTest : public SimTest {};

TEST_F(SendUniverseTest, ResultsByLinkKind) {
  AddFamilyDevice(0x0832, 0x0100, "QUEUED0000000001");
  AddFamilyDevice(0x0833, 0x0100, "POLLED0000000002");
  Serial queued = SerialOf("QUEUED0000000001");
  Serial polled = SerialOf("POLLED0000000002");
  auto universe = Universe(1);
  EXPECT_EQ(SendDmxUniverse(queued.data(), universe.data()), 0);  // not open

  static uint8_t output[512];
  ASSERT_EQ(OpenLink(queued.data(), nullptr, nullptr), 1);
  ASSERT_EQ(OpenLink(polled.data(), output, nullptr), 1);
  EXPECT_EQ(SendDmxUniverse(polled.data(), universe.data()), 0);
  EXPECT_EQ(SendDmxUniverse(queued.data(), nullptr), 0);
  // Mode 0: nothing is taken. The blank frame and three more fill the ring;
  // a fifth is discarded and still reported as accepted.
  for (int i = 0; i < 4; ++i) EXPECT_EQ(SendDmxUniverse(queued.data(), universe.data()), 1);
  EXPECT_EQ(SendDmxUniverse(nullptr, universe.data()), 0);
}

}  // namespace
