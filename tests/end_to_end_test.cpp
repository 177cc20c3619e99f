// Two interfaces of different kinds at work together, from open to
// CloseAllLinks: output on the wire, input in the buffers and every kind of
// callback with the right link ids.
#include "notify_fixture.h"

using namespace ombrix_test;

namespace {

// Two interfaces side by side, from open to CloseAllLinks: output on both,
// streamed input on both, every kind of callback with the right link ids.
TEST_F(NotifyTest, TwoInterfacesEndToEnd) {
  int32_t polledDevice = AddFamilyDevice(0x0830, 0x0106, "ENDTOEND00000001");
  int32_t queueDevice = AddFamilyDevice(0x0833, 0x0100, "ENDTOEND00000002");
  Serial polled = SerialOf("ENDTOEND00000001");
  Serial queued = SerialOf("ENDTOEND00000002");
  static uint8_t output[512], polledInput[512], queuedInput[512];
  ASSERT_EQ(RegisterInputChangeNotification(OnInputChange), 1);
  ASSERT_EQ(OpenLink(polled.data(), output, polledInput), 1);
  ASSERT_EQ(OpenLink(queued.data(), nullptr, queuedInput), 1);
  ASSERT_EQ(RegisterInputChangeBlockNotification(OnBlock), 1);
  ASSERT_EQ(RegisterInterfaceChangeNotification(OnInterfaceChange), 1);
  int32_t polledId = RegisterHeartbeatNotification(polled.data(), OnHeartbeat);
  ASSERT_GT(polledId, 0);
  int32_t queuedId = RegisterInputChangeBlockNotificationSerial(queued.data(), OnBlockSerial);
  ASSERT_GT(queuedId, polledId);
  ASSERT_EQ(RegisterInputChangeBlockNotificationSerial(polled.data(), OnBlockSerial), polledId);
  ASSERT_EQ(RegisterInterfaceChangeNotificationSerial(queued.data(), OnInterfaceSerial), queuedId);
  ASSERT_EQ(RegisterInterfaceChangeNotificationSerial(polled.data(), OnInterfaceSerial), polledId);

  OmbrixSimSetWriteBehaviour(polledDevice, OMBRIX_SIM_WRITE_COMPLETE, 1000);
  OmbrixSimSetWriteBehaviour(queueDevice, OMBRIX_SIM_WRITE_COMPLETE, 1000);
  ASSERT_EQ(SetInterfaceMode(polled.data(), 2), 1);
  ASSERT_EQ(SetInterfaceMode(queued.data(), 2), 1);
  OmbrixSimStreamInput(polledDevice, 2000);
  OmbrixSimStreamInput(queueDevice, 3000);

  uint8_t universe[512];
  for (int round = 1; round <= 5; ++round) {
    StoreChannel(output, 100, static_cast<uint8_t>(round));
    std::memset(universe, round, sizeof universe);
    ASSERT_EQ(SendDmxUniverse(queued.data(), universe), 1);
    ombrix::platform::SleepMillis(20);
  }
  // The last values reach the wire: channel 101 in block 3 of the polled
  // interface, the whole universe in frame blocks on the queued one.
  ASSERT_TRUE(WaitUntil([&] {
    for (const Bytes& w : Writes(polledDevice)) {
      if (w[1] == 3 && w[2 + 100 - 96] == 5) return true;
    }
    return false;
  }));
  // A universe offered to a full queue is dropped by design (a stalled host
  // can let four pile up), so the last one is offered again until it shows.
  ASSERT_TRUE(WaitUntil([&] {
    for (const Bytes& w : Writes(queueDevice)) {
      if (w[1] == 0x2F && w[2] == 5 && w[33] == 5) return true;
    }
    SendDmxUniverse(queued.data(), universe);
    return false;
  }));

  // Input flows into both buffers, with callbacks for both link ids.
  ASSERT_TRUE(WaitUntil([&] {
    bool polledHeartbeat = false, queuedHeartbeat = false, polledBlock = false, queuedBlock = false;
    for (const Entry& e : Log()) {
      if (e.kind == kHeartbeat) (e.linkId == polledId ? polledHeartbeat : queuedHeartbeat) = true;
      if (e.kind == kBlockSerial) (e.linkId == polledId ? polledBlock : queuedBlock) = true;
    }
    return polledHeartbeat && queuedHeartbeat && polledBlock && queuedBlock && CountOf(kInputChange) >= 2;
  }));
  for (const Entry& e : Log()) {
    if (e.kind == kHeartbeat || e.kind == kBlockSerial) {
      EXPECT_TRUE(e.linkId == polledId || e.linkId == queuedId) << e;
    }
    if (e.kind == kBlock || e.kind == kBlockSerial) {
      EXPECT_LT(e.block, 16);
    }
  }
  auto anyInput = [](const uint8_t* input) {
    for (int i = 0; i < 512; ++i) {
      if (LoadChannel(input, i) != 0) return true;
    }
    return false;
  };
  EXPECT_TRUE(WaitUntil([&] { return anyInput(polledInput) && anyInput(queuedInput); }));

  OmbrixSimUnplug(queueDevice);
  ASSERT_TRUE(WaitForCount(kInterfaceSerial, 1));
  for (const Entry& e : LogOf(kInterfaceSerial)) EXPECT_EQ(e.linkId, queuedId);
  EXPECT_GE(CountOf(kInterfaceChange), 1u);

  ASSERT_EQ(UnregisterHeartbeatNotification(polled.data()), 1);
  EXPECT_EQ(CloseAllLinks(), 1);
  EXPECT_EQ(OmbrixSimLibraryThreads(), 0);
  EXPECT_EQ(OmbrixSimOpenHandles(polledDevice), 0);
  EXPECT_EQ(OmbrixSimOpenHandles(queueDevice), 0);
}

}  // namespace
