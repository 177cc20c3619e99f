// Links through Wine's HID stack, scripted from the device side: what the
// interface receives after OpenLink and SetInterfaceMode, what reaches the
// application when it sends input, and the queue's frame variant.
#include <cstdio>

#include "call_record.h"
#include "device_fixture.h"

namespace device_test {
namespace {

CallRecord g_blocks;        // InputChangeBlockCallback
CallRecord g_serialBlocks;  // InputChangeBlockSerialCallback
CallRecord g_heartbeats;    // HeartbeatCallback

void OMBRIX_CALL OnBlock(uint32_t blockIndex) { g_blocks.Note(OMBRIX_FRAME(), blockIndex); }
void OMBRIX_CALL OnSerialBlock(int32_t linkId, uint32_t blockIndex) {
  g_serialBlocks.Note(OMBRIX_FRAME(), linkId, blockIndex);
}
void OMBRIX_CALL OnHeartbeat(int32_t linkId) { g_heartbeats.Note(OMBRIX_FRAME(), linkId); }

class WineLink : public DeviceTest {};

TEST_F(WineLink, ModeZeroFirstThenTheSixteenBlocksThenOnlyAChangedOne) {
  const std::string name = "POLLED-0830";
  const Bytes serial = SerialOf(name);
  Script().Clear(name);
  uint8_t output[512];
  uint8_t input[512];
  for (int i = 0; i < 512; ++i) output[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_EQ(Dll().OpenLink(serial.data(), output, input), 1);

  std::vector<Bytes> reports = Script().WaitForReports(name, 1);
  ASSERT_GE(reports.size(), 1u);
  EXPECT_EQ(reports[0], ModeReport(0)) << "OpenLink writes mode 0 before anything else";

  ASSERT_EQ(Dll().SetInterfaceMode(serial.data(), 2), 1);
  reports = Script().WaitForReports(name, 18);
  ASSERT_GE(reports.size(), 18u);
  EXPECT_EQ(reports[1], ModeReport(2));
  for (int block = 0; block < 16; ++block) {
    EXPECT_EQ(reports[2 + block], BlockReport(static_cast<uint8_t>(block), output, block)) << "block " << block;
  }
  Sleep(300);
  EXPECT_EQ(Script().Reports(name).size(), 18u) << "nothing more while the output buffer stays as it is";

  Script().Clear(name);
  output[40] ^= 0xFF;  // channel 41, block 1
  reports = Script().WaitForReports(name, 1);
  Sleep(300);
  reports = Script().Reports(name);
  ASSERT_EQ(reports.size(), 1u) << "only the changed block goes out again";
  EXPECT_EQ(reports[0], BlockReport(1, output, 1));

  EXPECT_EQ(Dll().CloseLink(serial.data()), 1);
}

TEST_F(WineLink, InputBlocksReachTheBufferAndTheCallbacksOnTheIoThread) {
  // Product 0x0832: heartbeats are registered only through interfaces that
  // send them, and Wine hides the release number that would qualify 0x0830.
  const std::string name = "TYPE2-0832";
  const Bytes serial = SerialOf(name);
  g_blocks.Reset();
  g_serialBlocks.Reset();
  g_heartbeats.Reset();
  uint8_t input[512];
  std::memset(input, 0xEE, sizeof input);
  ASSERT_EQ(Dll().OpenLink(serial.data(), nullptr, input), 1);
  EXPECT_EQ(input[200], 0) << "OpenLink clears the input buffer";
  ASSERT_EQ(Dll().RegisterInputChangeBlockNotification(&OnBlock), 1);
  int32_t linkId = Dll().RegisterInputChangeBlockNotificationSerial(serial.data(), &OnSerialBlock);
  ASSERT_NE(linkId, 0);
  ASSERT_EQ(Dll().RegisterHeartbeatNotification(serial.data(), &OnHeartbeat), linkId);

  // Blocks 3, 15 and 3 again, each waited for: three calls from one place.
  const uint8_t blocks[] = {3, 15, 3};
  for (size_t i = 0; i < sizeof blocks; ++i) {
    uint8_t block = blocks[i];
    Bytes payload = InputPayload(block, static_cast<uint8_t>(0x40 * i));
    Script().Input(name, payload);
    EXPECT_TRUE(WaitUntil([&] { return std::memcmp(input + 32 * block, payload.data() + 1, 32) == 0; }))
        << "block " << int(block) << " in the input buffer";
    EXPECT_TRUE(WaitUntil([&] { return g_serialBlocks.Count() >= i + 1; }));
  }
  Script().Input(name, InputPayload(0x55, 0));  // heartbeat
  EXPECT_TRUE(WaitUntil([&] { return g_heartbeats.Count() >= 1; }));

  const DWORD application = GetCurrentThreadId();
  std::vector<Call> global = g_blocks.Calls();
  std::vector<Call> perLink = g_serialBlocks.Calls();
  ASSERT_EQ(global.size(), 3u);
  ASSERT_EQ(perLink.size(), 3u);
  DWORD ioThread = 0;
  EXPECT_TRUE(OneLibraryThread(global, application, &ioThread, true));
  EXPECT_TRUE(OneLibraryThread(perLink, application, nullptr, true));
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(global[i].first, blocks[i]);
    EXPECT_EQ(perLink[i].first, linkId);
    EXPECT_EQ(perLink[i].second, blocks[i]);
    EXPECT_EQ(perLink[i].thread, ioThread) << "both input-block callbacks run on the I/O thread";
  }
  std::vector<Call> heartbeats = g_heartbeats.Calls();
  DWORD eventThread = 0;
  // Called after input changes as well as for the heartbeat report, so
  // from more than one place.
  EXPECT_TRUE(OneLibraryThread(heartbeats, application, &eventThread, false));
  EXPECT_NE(eventThread, ioThread) << "the heartbeat callback runs on the event thread";
  for (const Call& call : heartbeats) EXPECT_EQ(call.first, linkId);

  EXPECT_EQ(Dll().UnregisterInputChangeBlockNotification(), 1);
  EXPECT_EQ(Dll().UnregisterInputChangeBlockNotificationSerial(serial.data()), 1);
  EXPECT_EQ(Dll().UnregisterHeartbeatNotification(serial.data()), 1);
  EXPECT_EQ(Dll().CloseLink(serial.data()), 1);
}

TEST_F(WineLink, QueuedUniverseGoesOutWithTheFrameVariant) {
  const std::string name = "QUEUED-0833";
  const Bytes serial = SerialOf(name);
  Script().Clear(name);
  ASSERT_EQ(Dll().OpenLink(serial.data(), nullptr, nullptr), 1);
  // Queued before the mode goes up: a queue-mode link holds a blank frame
  // from open, and the newest queued frame replaces it only if it is there
  // when the I/O thread first takes a frame after the mode change. Queued
  // afterwards, the blank frame may or may not go out first.
  uint8_t universe[512];
  for (int i = 0; i < 512; ++i) universe[i] = static_cast<uint8_t>(255 - i);
  ASSERT_EQ(Dll().SendDmxUniverse(serial.data(), universe), 1);
  ASSERT_EQ(Dll().SetInterfaceMode(serial.data(), 2), 1);

  std::vector<Bytes> reports = Script().WaitForReports(name, 18);
  ASSERT_GE(reports.size(), 18u);
  EXPECT_EQ(reports[0], ModeReport(0));
  EXPECT_EQ(reports[1], ModeReport(2));
  // Product 0x0833 takes type 0x20 + n for the blocks of a queued universe.
  for (int block = 0; block < 16; ++block) {
    EXPECT_EQ(reports[2 + block], BlockReport(static_cast<uint8_t>(0x20 + block), universe, block))
        << "block " << block;
  }
  EXPECT_EQ(Dll().CloseLink(serial.data()), 1);
}

}  // namespace
}  // namespace device_test
