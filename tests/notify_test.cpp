// Callback registration and the callbacks the application receives: which
// ones run, in what order, with which link ids, for what the devices send.
#include <atomic>
#include <cstring>

#include "registry/handshake.h"
#include "registry/library_threads.h"
#include "registry/registry.h"
#include "sim_fixture.h"

using namespace ombrix_test;

namespace {

// Every callback appends one entry to this log: kind in the high byte,
// link id and block index below. Entries are published through done, so
// the test reads only completed entries.
constexpr int kLogCapacity = 4096;
enum Kind : int { kInputChange = 1, kBlock, kInterfaceChange, kHeartbeat, kBlockSerial, kInterfaceSerial,
                  kHeartbeatOther };
std::atomic<int> g_reserved{0};
std::atomic<int> g_done{0};
std::atomic<int> g_log[kLogCapacity];

void Record(int kind, int linkId, int block) {
  int index = g_reserved.fetch_add(1);
  if (index < kLogCapacity) g_log[index].store(kind << 24 | (linkId & 0xFFFF) << 8 | (block & 0xFF));
  g_done.fetch_add(1);
}

struct Entry {
  int kind, linkId, block;
  bool operator==(const Entry& o) const { return kind == o.kind && linkId == o.linkId && block == o.block; }
};
std::ostream& operator<<(std::ostream& out, const Entry& e) {
  return out << "{" << e.kind << "," << e.linkId << "," << e.block << "}";
}

std::vector<Entry> Log() {
  std::vector<Entry> entries;
  int count = g_done.load();
  if (count > kLogCapacity) count = kLogCapacity;
  for (int i = 0; i < count; ++i) {
    int v = g_log[i].load();
    entries.push_back({v >> 24, (v >> 8) & 0xFFFF, v & 0xFF});
  }
  return entries;
}
std::vector<Entry> LogOf(int kind) {
  std::vector<Entry> entries;
  for (const Entry& e : Log()) {
    if (e.kind == kind) entries.push_back(e);
  }
  return entries;
}
size_t CountOf(int kind) { return LogOf(kind).size(); }
bool WaitForCount(int kind, size_t count, int timeoutMs = 5000) {
  return WaitUntil([&] { return CountOf(kind) >= count; }, timeoutMs);
}

void OMBRIX_CALL OnInputChange() { Record(kInputChange, 0, 0); }
void OMBRIX_CALL OnBlock(uint32_t block) { Record(kBlock, 0, static_cast<int>(block)); }
void OMBRIX_CALL OnInterfaceChange() { Record(kInterfaceChange, 0, 0); }
void OMBRIX_CALL OnHeartbeat(int32_t linkId) { Record(kHeartbeat, linkId, 0); }
void OMBRIX_CALL OnHeartbeatOther(int32_t linkId) { Record(kHeartbeatOther, linkId, 0); }
void OMBRIX_CALL OnBlockSerial(int32_t linkId, uint32_t block) {
  Record(kBlockSerial, linkId, static_cast<int>(block));
}
void OMBRIX_CALL OnInterfaceSerial(int32_t linkId) { Record(kInterfaceSerial, linkId, 0); }

// What a heartbeat callback sees of the configuration cache.
Serial g_readbackSerial;
std::atomic<int> g_seenParam1{-1};
void OMBRIX_CALL OnHeartbeatReadsConfig(int32_t linkId) {
  uint16_t p1 = 0;
  GetInterfaceConfig(g_readbackSerial.data(), nullptr, &p1, nullptr, nullptr, nullptr, nullptr, nullptr);
  g_seenParam1.store(p1);
  Record(kHeartbeat, linkId, 0);
}

void Inject(int32_t device, const Bytes& report) {
  ASSERT_EQ(OmbrixSimInjectInput(device, report.data(), static_cast<uint32_t>(report.size())), 1);
}

// Injects reports while the link is parked, so that the I/O thread takes
// them in consecutive passes however late the test thread gets to run:
// otherwise a pause between two injections could count as a quiet spell.
// holdMillis keeps the link parked a little longer after the injections.
void InjectBurst(const Serial& serial, int32_t device, const std::vector<Bytes>& reports, int holdMillis = 0) {
  ombrix::platform::LockGuard control(ombrix::ControlLock());
  ombrix::Link* link = ombrix::FindLinkBySerial(serial.data());
  ASSERT_NE(link, nullptr);
  ombrix::PauseLink(*link);
  for (const Bytes& report : reports) Inject(device, report);
  if (holdMillis > 0) ombrix::platform::SleepMillis(static_cast<uint32_t>(holdMillis));
  ombrix::ResumeLink(*link);
}

std::vector<Bytes> Blocks(int count, uint8_t firstValue) {
  std::vector<Bytes> reports;
  for (int b = 0; b < count; ++b) reports.push_back(InputBlock(static_cast<uint8_t>(b), firstValue));
  return reports;
}

// The process-wide slots outlive links and tests: every test starts and
// ends with all of them empty.
class NotifyTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ClearGlobalSlots();
    g_reserved.store(0);
    g_done.store(0);
  }
  void TearDown() override {
    ClearGlobalSlots();
    SimTest::TearDown();
  }
  static void ClearGlobalSlots() {
    // The heartbeat slot can only be cleared through an open link.
    uint8_t list[512];
    GetAllOpenedInterfaces(list);
    if (std::memcmp(list, "0000000000000000", 16) != 0) UnregisterHeartbeatNotification(list);
    EXPECT_EQ(UnregisterInputChangeNotification(), 1);
    EXPECT_EQ(UnregisterInputChangeBlockNotification(), 1);
    EXPECT_EQ(UnregisterInterfaceChangeNotification(), 1);
  }
};

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
  EXPECT_EQ(Log(), (std::vector<Entry>{{kInputChange, 0, 0}, {kHeartbeat, id, 0},
                                       {kInputChange, 0, 0}, {kHeartbeat, id, 0}}));
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
  EXPECT_EQ(UnregisterInterfaceChangeNotificationSerial(b.data()), 1);  // twice is fine
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
