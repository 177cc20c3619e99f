// The I/O thread and the event thread at work: input arriving, input-change
// summaries, failing transfers, many links, parked links.
#include <atomic>
#include <cstring>

#include "sim_fixture.h"

using namespace ombrix_test;

namespace {

std::atomic<int> g_inputChanges{0};
std::atomic<int> g_interfaceChanges{0};
std::atomic<int> g_perLinkInterfaceChanges{0};
std::atomic<int> g_lastInterfaceChangeLink{0};

void OMBRIX_CALL CountInputChange() { g_inputChanges.fetch_add(1); }
void OMBRIX_CALL CountInterfaceChange() { g_interfaceChanges.fetch_add(1); }
void OMBRIX_CALL CountLinkInterfaceChange(int32_t linkId) {
  g_perLinkInterfaceChanges.fetch_add(1);
  g_lastInterfaceChangeLink.store(linkId);
}

class EngineTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    g_inputChanges = 0;
    g_interfaceChanges = 0;
    g_perLinkInterfaceChanges = 0;
    g_lastInterfaceChangeLink = 0;
    ASSERT_EQ(RegisterInputChangeNotification(CountInputChange), 1);
    ASSERT_EQ(RegisterInterfaceChangeNotification(CountInterfaceChange), 1);
  }
  void TearDown() override {
    SimTest::TearDown();
    UnregisterInputChangeNotification();
    UnregisterInterfaceChangeNotification();
  }
};

TEST_F(EngineTest, InputBlocksLandAndSixteenMakeOneInputChange) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "INPUT00000000001");
  Serial serial = SerialOf("INPUT00000000001");
  static uint8_t input[512];
  // Queued on the device before the open, so that the link finds the whole
  // burst waiting: injected one by one into an open link, a test thread
  // that stalls between two blocks for eight I/O passes splits the burst
  // into two, and two input changes are then right.
  for (uint8_t block = 0; block < 16; ++block) {
    Bytes report = InputBlock(block, static_cast<uint8_t>(block * 2));
    ASSERT_EQ(OmbrixSimInjectInput(device, report.data(), 34), 1);
  }
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  ASSERT_TRUE(WaitUntil([&] { return LoadChannel(input, 511) == 30 + 31; }));
  for (int block = 0; block < 16; ++block) {
    EXPECT_EQ(LoadChannel(input, block * 32), block * 2) << block;
  }
  ASSERT_TRUE(WaitUntil([] { return g_inputChanges.load() >= 1; }));
  // Nothing more arrives: the quiet-spell summary needs a block since the
  // last summary, so the count stays at one.
  ombrix::platform::SleepMillis(50);
  EXPECT_EQ(g_inputChanges.load(), 1);
}

TEST_F(EngineTest, AFewBlocksThenSilenceMakeOneInputChange) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "INPUT00000000001");
  Serial serial = SerialOf("INPUT00000000001");
  static uint8_t input[512];
  // Waiting before the open, as above: one burst whatever the timing.
  for (uint8_t block = 0; block < 5; ++block) {
    Bytes report = InputBlock(block, 1);
    ASSERT_EQ(OmbrixSimInjectInput(device, report.data(), 34), 1);
  }
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  ASSERT_TRUE(WaitUntil([] { return g_inputChanges.load() >= 1; }));
  ombrix::platform::SleepMillis(50);
  EXPECT_EQ(g_inputChanges.load(), 1);
}

TEST_F(EngineTest, ShortAndForeignReportsChangeNothing) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "INPUT00000000001");
  Serial serial = SerialOf("INPUT00000000001");
  static uint8_t input[512];
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  Bytes block = InputBlock(0, 0x40);
  OmbrixSimInjectInput(device, block.data(), 33);  // one byte short
  Bytes frameType = InputBlock(0x20, 0x40);
  OmbrixSimInjectInput(device, frameType.data(), 34);
  Bytes marker = InputBlock(1, 0x77);
  OmbrixSimInjectInput(device, marker.data(), 34);
  ASSERT_TRUE(WaitUntil([&] { return LoadChannel(input, 32) == 0x77; }));
  for (int i = 0; i < 32; ++i) EXPECT_EQ(LoadChannel(input, i), 0);
}

TEST_F(EngineTest, UnplugGivesOneInterfaceChangePerFailingTransfer) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "UNPLUG0000000001");
  Serial serial = SerialOf("UNPLUG0000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  int32_t linkId = RegisterInterfaceChangeNotificationSerial(serial.data(), CountLinkInterfaceChange);
  ASSERT_GT(linkId, 0);
  // A write stays outstanding beside the read, so both fail at the unplug.
  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_NEVER, 0);
  ASSERT_EQ(SetInterfaceMode(serial.data(), 2), 1);
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 2; }));
  ASSERT_EQ(OmbrixSimUnplug(device), 1);
  ASSERT_TRUE(WaitUntil([] { return g_perLinkInterfaceChanges.load() == 2; }));
  ombrix::platform::SleepMillis(30);  // later transfers fail to start, silently
  EXPECT_EQ(g_interfaceChanges.load(), 2);
  EXPECT_EQ(g_perLinkInterfaceChanges.load(), 2);
  EXPECT_EQ(g_lastInterfaceChangeLink.load(), linkId);
  // The link stays until the application closes it, and still knows its
  // release number.
  EXPECT_EQ(GetDeviceVersion(serial.data()), 0x0100);
  EXPECT_EQ(CloseLink(serial.data()), 1);
}

TEST_F(EngineTest, FortyLinksAllCarryOutputAndInput) {
  constexpr int kLinks = 40;
  static uint8_t inputs[kLinks][512];
  std::vector<Serial> serials;
  for (int i = 0; i < kLinks; ++i) {
    char text[17];
    std::snprintf(text, sizeof text, "MANY%012d", i);
    AddFamilyDevice(0x0833, 0x0100, text);
    serials.push_back(SerialOf(text));
    ASSERT_EQ(OpenLink(serials.back().data(), nullptr, inputs[i]), 1);
  }
  std::array<uint8_t, 512> universe;
  universe.fill(0x42);
  for (int i = 0; i < kLinks; ++i) {
    ASSERT_EQ(SetInterfaceMode(serials[i].data(), 2), 1);
    ASSERT_EQ(SendDmxUniverse(serials[i].data(), universe.data()), 1);
    Bytes report = InputBlock(3, static_cast<uint8_t>(i));
    OmbrixSimInjectInput(i + 1, report.data(), 34);
  }
  for (int i = 0; i < kLinks; ++i) {
    int32_t device = i + 1;
    ASSERT_TRUE(WaitUntil([&] {
      auto writes = Writes(device);
      return !writes.empty() && writes.back()[1] == 0x2F && writes.back()[2] == 0x42;
    })) << "link "
        << i;
    ASSERT_TRUE(WaitUntil([&] { return LoadChannel(inputs[i], 96) == i; })) << "link " << i;
  }
  EXPECT_EQ(CloseAllLinks(), 1);
  for (int device = 1; device <= kLinks; ++device) EXPECT_EQ(OmbrixSimOpenHandles(device), 0);
}

TEST_F(EngineTest, ParkedLinkKeepsItsReadAndTakesItUpWhenResumed) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "PARKED0000000001");
  Serial serial = SerialOf("PARKED0000000001");
  static uint8_t input[512];
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) == 1; }));
  // Registering pauses the link; input that arrives meanwhile completes the
  // outstanding read and is taken up once the link runs again.
  ASSERT_EQ(RegisterInputChangeNotification(CountInputChange), 1);
  Bytes report = InputBlock(2, 9);
  OmbrixSimInjectInput(device, report.data(), 34);
  ASSERT_TRUE(WaitUntil([&] { return LoadChannel(input, 64) == 9; }));
}

TEST_F(EngineTest, OneThousandOpenCloseCyclesLeaveNothingBehind) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "CYCLE00000000001");
  Serial serial = SerialOf("CYCLE00000000001");
  static uint8_t input[512];
  for (int cycle = 0; cycle < 1000; ++cycle) {
    ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
    ASSERT_EQ(CloseLink(serial.data()), 1);
  }
  EXPECT_EQ(OmbrixSimOpenHandles(device), 0);
  EXPECT_EQ(OmbrixSimLibraryThreads(), 0);
  EXPECT_EQ(OmbrixSimWriteCount(device), 2000u);  // mode 0 at every open and close
}

}  // namespace

namespace {

// What a callback gets back from the exports that would wait for the very
// thread that runs it.
std::atomic<int> g_reentrantCalls{0};
std::atomic<int> g_reentrantNonZero{0};
uint8_t g_reentrantSerial[16];

void OMBRIX_CALL ReenterFromBlockCallback(uint32_t) {
  int32_t results[] = {OpenLink(g_reentrantSerial, nullptr, nullptr), CloseLink(g_reentrantSerial), CloseAllLinks(),
                       RegisterInputChangeNotification(nullptr),
                       RegisterInterfaceChangeNotificationSerial(g_reentrantSerial, nullptr)};
  for (int32_t result : results) {
    if (result != 0) g_reentrantNonZero.fetch_add(1);
  }
  g_reentrantCalls.fetch_add(1);
}

TEST_F(EngineTest, ExportsThatWaitRefuseToRunInsideACallback) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "REENTER000000001");
  Serial serial = SerialOf("REENTER000000001");
  std::memcpy(g_reentrantSerial, serial.data(), 16);
  g_reentrantCalls = 0;
  g_reentrantNonZero = 0;
  static uint8_t input[512];
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);
  ASSERT_EQ(RegisterInputChangeBlockNotification(ReenterFromBlockCallback), 1);
  Bytes report = InputBlock(0, 1);
  OmbrixSimInjectInput(device, report.data(), 34);
  ASSERT_TRUE(WaitUntil([] { return g_reentrantCalls.load() == 1; }));
  EXPECT_EQ(g_reentrantNonZero.load(), 0);
  EXPECT_EQ(UnregisterInputChangeBlockNotification(), 1);
  // The link is untouched by the refused calls.
  uint8_t list[512];
  GetAllOpenedInterfaces(list);
  EXPECT_EQ(std::memcmp(list, serial.data(), 16), 0);
}

}  // namespace
