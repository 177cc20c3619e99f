// Callback registration and the callbacks the application receives: which
// ones run, in what order, with which link ids, for what the devices send.
#include "notify_fixture.h"

using namespace ombrix_test;

namespace {

TEST_F(NotifyTest, ProcessWideCallbacksRegisteredBeforeAnyLinkFireForLaterLinks) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "GLOBAL0000000001");
  Serial serial = SerialOf("GLOBAL0000000001");
  // No link open: each stores at once and returns 1.
  EXPECT_EQ(RegisterInputChangeNotification(OnInputChange), 1);
  EXPECT_EQ(RegisterInputChangeBlockNotification(OnBlock), 1);
  EXPECT_EQ(RegisterInterfaceChangeNotification(OnInterfaceChange), 1);
  EXPECT_EQ(OmbrixSimLibraryThreads(), 0);

  static uint8_t input[512];
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  std::vector<Bytes> burst;
  for (int b = 0; b < 16; ++b) burst.push_back(InputBlock(static_cast<uint8_t>(b), static_cast<uint8_t>(b * 3)));
  InjectBurst(serial, device, burst);
  ASSERT_TRUE(WaitForCount(kInputChange, 1));
  auto blocks = LogOf(kBlock);
  ASSERT_EQ(blocks.size(), 16u);
  for (int b = 0; b < 16; ++b) EXPECT_EQ(blocks[b].block, b);
  EXPECT_EQ(LoadChannel(input, 15 * 32), 45);
  EXPECT_EQ(LoadChannel(input, 511), static_cast<uint8_t>(45 + 31));

  // The slots survive the closing of every link.
  ASSERT_EQ(CloseLink(serial.data()), 1);
  EXPECT_EQ(OmbrixSimLibraryThreads(), 0);
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  Inject(device, InputBlock(9, 1));
  ASSERT_TRUE(WaitForCount(kBlock, 17));
  EXPECT_EQ(LogOf(kBlock).back().block, 9);
  ASSERT_TRUE(WaitForCount(kInputChange, 2));  // after the quiet spell
  OmbrixSimUnplug(device);
  ASSERT_TRUE(WaitForCount(kInterfaceChange, 1));

  // Unregistered while a link is open: no more calls. The per-link block
  // callback, which runs right after the global one, marks that the block
  // was taken.
  ASSERT_EQ(CloseLink(serial.data()), 1);
  OmbrixSimReplug(device);
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  EXPECT_EQ(UnregisterInputChangeNotification(), 1);
  EXPECT_EQ(UnregisterInputChangeBlockNotification(), 1);
  EXPECT_EQ(UnregisterInterfaceChangeNotification(), 1);
  EXPECT_GT(RegisterInputChangeBlockNotificationSerial(serial.data(), OnBlockSerial), 0);
  InjectBurst(serial, device, Blocks(16, 0));
  ASSERT_TRUE(WaitForCount(kBlockSerial, 16));
  ombrix::platform::SleepMillis(50);
  EXPECT_EQ(CountOf(kBlock), 17u);
  EXPECT_EQ(CountOf(kInputChange), 2u);
}

TEST_F(NotifyTest, HeartbeatRegistrationFollowsProductAndRelease) {
  struct Case {
    uint16_t product;
    uint16_t release;
    bool qualifies;
  } cases[] = {
      {0x0754, 0x0105, false}, {0x0830, 0x0105, false}, {0x0830, 0x0000, false},
      {0x0754, 0x0106, true},  {0x0830, 0x0106, true},  {0x0830, 0x8000, true},
      {0x0832, 0x0000, true},  {0x0833, 0x0001, true},  {0x0832, 0xFFFF, true},
  };
  int count = 0;
  std::vector<int32_t> devices;
  std::vector<Serial> serials;
  static uint8_t inputs[9][512];
  for (const Case& c : cases) {
    std::string name = "HEARTBEAT00000" + std::to_string(10 + count);
    devices.push_back(AddFamilyDevice(c.product, c.release, name));
    serials.push_back(SerialOf(name));
    ASSERT_EQ(OpenLink(serials.back().data(), nullptr, inputs[count]), 1);
    ++count;
  }
  Serial first = serials[6];  // 0x0832: always qualifies
  int32_t firstId = RegisterHeartbeatNotification(first.data(), OnHeartbeat);
  ASSERT_GT(firstId, 0);
  for (size_t i = 0; i < serials.size(); ++i) {
    SCOPED_TRACE(i);
    int32_t linkId = RegisterInterfaceChangeNotificationSerial(serials[i].data(), nullptr);
    ASSERT_GT(linkId, 0);
    // A refusal keeps the earlier callback; an acceptance replaces it.
    int32_t id = RegisterHeartbeatNotification(serials[i].data(), OnHeartbeatOther);
    EXPECT_EQ(id, cases[i].qualifies ? linkId : 0);
    int kind = cases[i].qualifies ? kHeartbeatOther : kHeartbeat;
    size_t before = CountOf(kind);
    // The slot is process-wide: it is called for this link's heartbeat
    // whether or not this link could register it.
    Inject(devices[i], Report({0x55}));
    ASSERT_TRUE(WaitForCount(kind, before + 1));
    EXPECT_EQ(LogOf(kind).back().linkId, linkId);
    EXPECT_EQ(RegisterHeartbeatNotification(first.data(), OnHeartbeat), firstId);
  }
  EXPECT_EQ(RegisterHeartbeatNotification(SerialOf("NOTOPEN000000001").data(), OnHeartbeatOther), 0);
  EXPECT_EQ(UnregisterHeartbeatNotification(SerialOf("NOTOPEN000000001").data()), 0);

  // Unregistering applies no qualification test.
  EXPECT_EQ(UnregisterHeartbeatNotification(serials[0].data()), 1);
  EXPECT_EQ(RegisterInputChangeNotification(OnInputChange), 1);
  size_t heartbeats = CountOf(kHeartbeat) + CountOf(kHeartbeatOther);
  // A heartbeat, then an input change on the same link as marker: the
  // event thread takes them in order.
  Inject(devices[6], Report({0x55}));
  for (int b = 0; b < 16; ++b) Inject(devices[6], InputBlock(static_cast<uint8_t>(b), 0));
  ASSERT_TRUE(WaitForCount(kInputChange, 1));
  EXPECT_EQ(CountOf(kHeartbeat) + CountOf(kHeartbeatOther), heartbeats);
}

TEST_F(NotifyTest, InputChangeThenHeartbeatForBlocksAndForAQuietSpell) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "INPUTCHANGE00001");
  Serial serial = SerialOf("INPUTCHANGE00001");
  static uint8_t input[512];
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  int32_t id = RegisterHeartbeatNotification(serial.data(), OnHeartbeat);
  ASSERT_GT(id, 0);
  ASSERT_EQ(RegisterInputChangeNotification(OnInputChange), 1);

  InjectBurst(serial, device, Blocks(16, 1));
  ASSERT_TRUE(WaitForCount(kHeartbeat, 1));
  EXPECT_EQ(Log(), (std::vector<Entry>{{kInputChange, 0, 0}, {kHeartbeat, id, 0}}));

  // Five blocks and then nothing: one more input change after the quiet
  // spell, not one per block and not one at the 16th block of the count.
  InjectBurst(serial, device, Blocks(5, 2));
  ASSERT_TRUE(WaitForCount(kHeartbeat, 2));
  ombrix::platform::SleepMillis(100);
  EXPECT_EQ(Log(),
            (std::vector<Entry>{{kInputChange, 0, 0}, {kHeartbeat, id, 0}, {kInputChange, 0, 0}, {kHeartbeat, id, 0}}));
  EXPECT_EQ(LoadChannel(input, 4 * 32), 2);
  EXPECT_EQ(LoadChannel(input, 5 * 32), 1);
}

TEST_F(NotifyTest, ReadbackCallsHeartbeatAfterTheCacheIsUpdated) {
  int32_t device = AddFamilyDevice(0x0830, 0x0106, "READBACKBEAT0001");
  g_readbackSerial = SerialOf("READBACKBEAT0001");
  ASSERT_EQ(OpenLink(g_readbackSerial.data(), nullptr, nullptr), 1);
  int32_t id = RegisterHeartbeatNotification(g_readbackSerial.data(), OnHeartbeatReadsConfig);
  ASSERT_GT(id, 0);
  g_seenParam1.store(-1);
  Inject(device, Report({0x11, 0x01, 0x34, 0x12, 0, 0, 0, 0, 0, 0, 0x00, 0x02, 0x00}));
  ASSERT_TRUE(WaitForCount(kHeartbeat, 1));
  EXPECT_EQ(LogOf(kHeartbeat)[0].linkId, id);
  EXPECT_EQ(g_seenParam1.load(), 0x1234);
  // Short reports and reports of other kinds call nothing.
  Bytes shortReadback = Report({0x11, 0x01, 0x99, 0x99});
  shortReadback.resize(33);
  Inject(device, shortReadback);
  Inject(device, Report({0x12, 0x01}));
  Inject(device, Report({0x55}));
  ASSERT_TRUE(WaitForCount(kHeartbeat, 2));
  ombrix::platform::SleepMillis(50);
  EXPECT_EQ(CountOf(kHeartbeat), 2u);
  EXPECT_EQ(g_seenParam1.load(), 0x1234);
}

TEST_F(NotifyTest, UnplugCallsGlobalThenPerLinkInterfaceChangeForThatLinkOnly) {
  int32_t deviceA = AddFamilyDevice(0x0832, 0x0100, "UNPLUG0000000001");
  int32_t deviceB = AddFamilyDevice(0x0833, 0x0100, "UNPLUG0000000002");
  Serial a = SerialOf("UNPLUG0000000001");
  Serial b = SerialOf("UNPLUG0000000002");
  ASSERT_EQ(OpenLink(a.data(), nullptr, nullptr), 1);
  ASSERT_EQ(OpenLink(b.data(), nullptr, nullptr), 1);
  ASSERT_EQ(RegisterInterfaceChangeNotification(OnInterfaceChange), 1);
  int32_t idA = RegisterInterfaceChangeNotificationSerial(a.data(), OnInterfaceSerial);
  int32_t idB = RegisterInterfaceChangeNotificationSerial(b.data(), OnInterfaceSerial);
  ASSERT_GT(idA, 0);
  ASSERT_GT(idB, idA);

  OmbrixSimUnplug(deviceA);  // only its read is outstanding
  ASSERT_TRUE(WaitForCount(kInterfaceSerial, 1));
  ombrix::platform::SleepMillis(100);
  EXPECT_EQ(Log(), (std::vector<Entry>{{kInterfaceChange, 0, 0}, {kInterfaceSerial, idA, 0}}));

  // Unregistered per link: only the global one remains for b.
  EXPECT_EQ(UnregisterInterfaceChangeNotificationSerial(b.data()), 1);
  EXPECT_EQ(UnregisterInterfaceChangeNotificationSerial(b.data()), 1);              // twice is fine
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(deviceB) == 1; }));  // its read
  // Unplug only once b dispatches again after the unregistration's pause:
  // a failure collected right at the resume can be dropped (see
  // EventsThatWaitedWhileParkedAreDeliveredAfterResume).
  ASSERT_TRUE(WaitUntil([&] {
    ombrix::LinkReadSection section;
    ombrix::Link* link = ombrix::FindLinkBySerial(b.data());
    return link != nullptr && link->eventAck.load() == ombrix::kAckDispatching;
  }));
  OmbrixSimUnplug(deviceB);
  ASSERT_TRUE(WaitForCount(kInterfaceChange, 2));
  ombrix::platform::SleepMillis(100);
  EXPECT_EQ(CountOf(kInterfaceSerial), 1u);
  EXPECT_EQ(CloseAllLinks(), 1);
}

// An interface can vanish while none of its transfers is outstanding (its
// input was queued up, so each read completed at once). Reads that then
// cannot start must still tell the application, once and not on every
// pass; a good read afterwards arms the report again.
TEST_F(NotifyTest, TransfersThatCannotStartReportTheInterfaceOnceUntilOneOfTheirDirectionSucceeds) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "NOSTART000000001");
  Serial serial = SerialOf("NOSTART000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  ASSERT_EQ(RegisterInterfaceChangeNotification(OnInterfaceChange), 1);
  int32_t id = RegisterInterfaceChangeNotificationSerial(serial.data(), OnInterfaceSerial);
  ASSERT_GT(id, 0);
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 1; }));  // its read

  OmbrixSimSetReadBehaviour(device, OMBRIX_SIM_READ_REFUSE);
  uint8_t heartbeat[34] = {0, 0x12};
  OmbrixSimInjectInput(device, heartbeat, sizeof heartbeat);  // ends the read; the next is refused
  ASSERT_TRUE(WaitForCount(kInterfaceSerial, 1));
  ombrix::platform::SleepMillis(100);  // some fifty passes of refused reads
  EXPECT_EQ(Log(), (std::vector<Entry>{{kInterfaceChange, 0, 0}, {kInterfaceSerial, id, 0}}));

  // Good writes say nothing about the reads: a half-working device is
  // still reported once, not once per written report.
  ASSERT_EQ(SetInterfaceMode(serial.data(), 2), 1);
  uint8_t universe[512] = {};
  for (int frame = 1; frame <= 20; ++frame) {
    uint32_t before = OmbrixSimWriteCount(device);
    universe[0] = static_cast<uint8_t>(frame);
    ASSERT_EQ(SendDmxUniverse(serial.data(), universe), 1);
    ASSERT_TRUE(WaitUntil([&] { return OmbrixSimWriteCount(device) > before; })) << frame;
  }
  ombrix::platform::SleepMillis(100);
  EXPECT_EQ(CountOf(kInterfaceChange), 1u);

  OmbrixSimSetReadBehaviour(device, OMBRIX_SIM_READ_NORMAL);
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 1; }));
  OmbrixSimInjectInput(device, heartbeat, sizeof heartbeat);  // a good read
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 1; }));
  OmbrixSimUnplug(device);
  ASSERT_TRUE(WaitForCount(kInterfaceSerial, 2));
  ombrix::platform::SleepMillis(100);
  EXPECT_EQ(CountOf(kInterfaceChange), 2u);
  EXPECT_EQ(CloseAllLinks(), 1);
}

// A heartbeat that arrives while its link is parked (a registration in
// progress) must reach the callback once the link runs again. The I/O
// thread may meet the resumed link in the middle of its parked step; it
// must not serve it, and so post its events, before the event thread has
// taken up dispatching for it again, or the event thread drops them.
TEST_F(NotifyTest, EventsThatWaitedWhileParkedAreDeliveredAfterResume) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "PARKEDBEAT000001");
  Serial serial = SerialOf("PARKEDBEAT000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  int32_t id = RegisterHeartbeatNotification(serial.data(), OnHeartbeat);
  ASSERT_GT(id, 0);
  // Parks of different lengths meet the I/O thread at different points of
  // its parked step.
  for (size_t round = 1; round <= 40; ++round) {
    SCOPED_TRACE(round);
    InjectBurst(serial, device, {Report({0x55})}, static_cast<int>(round % 4));
    ASSERT_TRUE(WaitForCount(kHeartbeat, round, 2000)) << "heartbeat dropped at the resume";
  }
  EXPECT_EQ(CountOf(kHeartbeat), 40u);
}

TEST_F(NotifyTest, BlockCallbacksCarryBlockAndLinkForEveryStoredBlock) {
  int32_t deviceA = AddFamilyDevice(0x0832, 0x0100, "BLOCKS0000000001");
  int32_t deviceB = AddFamilyDevice(0x0830, 0x0100, "BLOCKS0000000002");
  int32_t deviceC = AddFamilyDevice(0x0833, 0x0100, "BLOCKS0000000003");
  Serial a = SerialOf("BLOCKS0000000001");
  Serial b = SerialOf("BLOCKS0000000002");
  Serial c = SerialOf("BLOCKS0000000003");
  static uint8_t inputA[512], inputB[512];
  ASSERT_EQ(OpenLink(a.data(), nullptr, inputA), 1);
  ASSERT_EQ(OpenLink(b.data(), nullptr, inputB), 1);
  ASSERT_EQ(OpenLink(c.data(), nullptr, nullptr), 1);  // stores no input
  ASSERT_EQ(RegisterInputChangeBlockNotification(OnBlock), 1);
  int32_t idA = RegisterInputChangeBlockNotificationSerial(a.data(), OnBlockSerial);
  int32_t idB = RegisterInputChangeBlockNotificationSerial(b.data(), OnBlockSerial);
  int32_t idC = RegisterInputChangeBlockNotificationSerial(c.data(), OnBlockSerial);
  ASSERT_GT(idA, 0);
  ASSERT_GT(idB, 0);
  ASSERT_GT(idC, 0);

  Inject(deviceC, InputBlock(4, 0));
  const uint8_t order[] = {3, 0, 15, 7};
  for (uint8_t block : order) Inject(deviceA, InputBlock(block, block));
  ASSERT_TRUE(WaitForCount(kBlockSerial, 4));
  Inject(deviceB, InputBlock(12, 0x40));
  ASSERT_TRUE(WaitForCount(kBlockSerial, 5));
  ombrix::platform::SleepMillis(50);
  // Global first, then the link's own, for each block, with nothing for
  // the link without an input buffer.
  std::vector<Entry> expected;
  for (uint8_t block : order) {
    expected.push_back({kBlock, 0, block});
    expected.push_back({kBlockSerial, idA, block});
  }
  expected.push_back({kBlock, 0, 12});
  expected.push_back({kBlockSerial, idB, 12});
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(LoadChannel(inputA, 15 * 32 + 1), 16);
  EXPECT_EQ(LoadChannel(inputB, 12 * 32), 0x40);
}

TEST_F(NotifyTest, PerLinkSlotsBelongToTheLinkAndUnknownSerialsAreRefused) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "PERLINK000000001");
  Serial serial = SerialOf("PERLINK000000001");
  Serial unknown = SerialOf("PERLINK000000009");
  static uint8_t input[512];
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);

  // A serial that is not open: 0 from all six, and nothing changes.
  int32_t oldId = RegisterInputChangeBlockNotificationSerial(serial.data(), OnBlockSerial);
  ASSERT_GT(oldId, 0);
  EXPECT_EQ(RegisterInputChangeBlockNotificationSerial(unknown.data(), nullptr), 0);
  EXPECT_EQ(UnregisterInputChangeBlockNotificationSerial(unknown.data()), 0);
  EXPECT_EQ(RegisterInterfaceChangeNotificationSerial(unknown.data(), OnInterfaceSerial), 0);
  EXPECT_EQ(UnregisterInterfaceChangeNotificationSerial(unknown.data()), 0);
  EXPECT_EQ(RegisterHeartbeatNotification(unknown.data(), OnHeartbeat), 0);
  EXPECT_EQ(UnregisterHeartbeatNotification(unknown.data()), 0);
  EXPECT_EQ(RegisterInputChangeBlockNotificationSerial(nullptr, OnBlockSerial), 0);
  Inject(device, InputBlock(2, 0));
  ASSERT_TRUE(WaitForCount(kBlockSerial, 1));
  EXPECT_EQ(LogOf(kBlockSerial)[0], (Entry{kBlockSerial, oldId, 2}));

  // Registering null unregisters and still returns the link id; an
  // unregister of a slot never set returns 1.
  EXPECT_EQ(RegisterInputChangeBlockNotificationSerial(serial.data(), nullptr), oldId);
  EXPECT_EQ(UnregisterInterfaceChangeNotificationSerial(serial.data()), 1);
  EXPECT_EQ(RegisterInputChangeBlockNotification(OnBlock), 1);
  Inject(device, InputBlock(3, 0));
  Inject(device, InputBlock(4, 0));
  ASSERT_TRUE(WaitForCount(kBlock, 2));
  ombrix::platform::SleepMillis(20);
  EXPECT_EQ(CountOf(kBlockSerial), 1u);

  // Registered again, closed, reopened: the new link has none of them
  // and a larger id.
  ASSERT_EQ(RegisterInputChangeBlockNotificationSerial(serial.data(), OnBlockSerial), oldId);
  ASSERT_EQ(RegisterInterfaceChangeNotificationSerial(serial.data(), OnInterfaceSerial), oldId);
  ASSERT_EQ(CloseLink(serial.data()), 1);
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  ASSERT_EQ(RegisterInterfaceChangeNotification(OnInterfaceChange), 1);
  Inject(device, InputBlock(5, 0));
  Inject(device, InputBlock(6, 0));
  ASSERT_TRUE(WaitForCount(kBlock, 4));
  OmbrixSimUnplug(device);
  ASSERT_TRUE(WaitForCount(kInterfaceChange, 1));
  ombrix::platform::SleepMillis(20);
  EXPECT_EQ(CountOf(kBlockSerial), 1u);
  EXPECT_EQ(CountOf(kInterfaceSerial), 0u);
  int32_t newId = RegisterInterfaceChangeNotificationSerial(serial.data(), nullptr);
  EXPECT_GT(newId, oldId);
}

}  // namespace
