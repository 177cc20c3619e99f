// The frame queue's ring rules and its hand-over between one producer and
// the consumer, plus SendDmxUniverse's results.
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>

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

// Several producers at once, each waiting while the ring is full: the
// consumer takes every frame exactly once, whole, and each producer's
// frames in the order it pushed them. Bounded in time: a broken ring that
// loses frames ends the test with a failure instead of a hang.
TEST(FrameQueueTest, ConcurrentProducersHandOverWholeFramesInTheirOrder) {
  Link link;
  QueueReset(link);
  constexpr int kProducers = 3;
  constexpr int kFrames = 1000;
  std::atomic<bool> stop{false};
  std::vector<std::unique_ptr<TestThread>> producers;
  for (int producer = 0; producer < kProducers; ++producer) {
    producers.push_back(std::make_unique<TestThread>([&link, &stop, producer] {
      std::array<uint8_t, kUniverseBytes> universe;
      for (int frame = 1; frame <= kFrames && !stop.load(); ++frame) {
        universe.fill(static_cast<uint8_t>(frame));
        universe[0] = static_cast<uint8_t>(producer);
        universe[1] = static_cast<uint8_t>(frame >> 8);
        while (!stop.load() && QueuePushFrame(link, universe.data()) != 1) {
        }
      }
    }));
  }
  int last[kProducers] = {};
  int taken = 0;
  bool whole = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (whole && taken < kProducers * kFrames && std::chrono::steady_clock::now() < deadline) {
    if (QueuePopFrame(link) != 1) continue;
    int producer = link.sendFrame[0];
    int frame = (link.sendFrame[1] << 8) | link.sendFrame[2];
    for (int i = 3; i < kUniverseBytes; ++i) whole = whole && link.sendFrame[i] == link.sendFrame[2];
    whole = whole && producer < kProducers && frame > last[producer];
    if (whole) last[producer] = frame;
    ++taken;
  }
  stop.store(true);
  for (auto& producer : producers) producer->Join();
  EXPECT_TRUE(whole) << "a torn, unknown or repeated frame after " << taken << " frames";
  EXPECT_EQ(taken, kProducers * kFrames);
  for (int producer = 0; producer < kProducers; ++producer) EXPECT_EQ(last[producer], kFrames);
  EXPECT_EQ(QueuePopFrame(link), -1);
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

// Several application threads feed one link at once. Every frame on the
// wire must be exactly one universe that some thread sent: each universe
// is uniform with a value of its own, so a torn slot or a frame mixed from
// two pushes shows up as a frame with two values.
TEST_F(SendUniverseTest, ConcurrentSendersPutOnlyWholeUniversesOnTheWire) {
  int32_t device = AddFamilyDevice(0x0830, 0x0106, "QUEUED0000000001");
  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_COMPLETE, 0);
  Serial serial = SerialOf("QUEUED0000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  ASSERT_EQ(SetInterfaceMode(serial.data(), 2), 1);
  constexpr int kSenders = 4;
  constexpr int kValuesPerSender = 60;  // values 1 to 240, one per sender and step
  constexpr int kRounds = 40;
  std::atomic<int> refused{0};
  std::vector<std::unique_ptr<TestThread>> senders;
  for (int sender = 0; sender < kSenders; ++sender) {
    senders.push_back(std::make_unique<TestThread>([&, sender] {
      for (int round = 0; round < kRounds; ++round) {
        for (int step = 0; step < kValuesPerSender; ++step) {
          auto universe = Universe(static_cast<uint8_t>(1 + sender * kValuesPerSender + step));
          if (SendDmxUniverse(serial.data(), universe.data()) != 1) refused.fetch_add(1);
        }
      }
    }));
  }
  for (auto& sender : senders) sender->Join();
  EXPECT_EQ(refused.load(), 0);
  // The last frame taken goes out in full; then the wire falls silent. A
  // close before that would cut the frame short, so the test ends with
  // universes of its own (values no sender uses) and closes once they are
  // out.
  ASSERT_TRUE(SendUntilLastFrameIsOut(device, serial, 241, 255));
  ASSERT_EQ(CloseLink(serial.data()), 1);

  std::vector<Bytes> writes = Writes(device);
  std::array<uint8_t, kUniverseBytes> frame{};
  int nextBlock = 0;
  int frames = 0;
  for (const Bytes& write : writes) {
    if (write.size() != 34 || write[1] > 15) continue;  // mode reports
    ASSERT_EQ(write[1], nextBlock) << "a frame was cut short";
    std::memcpy(frame.data() + nextBlock * kBlockBytes, write.data() + 2, kBlockBytes);
    if (++nextBlock < kBlockCount) continue;
    nextBlock = 0;
    ++frames;
    for (int i = 1; i < kUniverseBytes; ++i) ASSERT_EQ(frame[i], frame[0]) << "frame " << frames << " byte " << i;
  }
  EXPECT_EQ(nextBlock, 0);
  EXPECT_GE(frames, 1);
}

}  // namespace
