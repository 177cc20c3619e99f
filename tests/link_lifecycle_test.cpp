// Opening and closing links, as a caller sees it on the wire and in the
// registry.
#include <cstring>

#include "sim_fixture.h"

using namespace ombrix_test;

namespace {

const Bytes kModeZero = Report({0x10, 0x00});

class LinkLifecycleTest : public SimTest {};

TEST_F(LinkLifecycleTest, OpenSendsModeZeroAndCloseSendsItAgain) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "LINKSERIAL000001");
  Serial serial = SerialOf("LINKSERIAL000001");
  uint8_t output[512] = {};
  uint8_t input[512];
  std::memset(input, 0xAB, sizeof input);

  ASSERT_EQ(OpenLink(serial.data(), output, input), 1);
  EXPECT_EQ(OmbrixSimLibraryThreads(), 2);
  for (uint8_t byte : input) ASSERT_EQ(byte, 0);  // cleared by the open
  auto writes = Writes(device);
  ASSERT_GE(writes.size(), 1u);
  EXPECT_EQ(writes[0], kModeZero);
  EXPECT_EQ(OmbrixSimOpenHandles(device), 1);

  ASSERT_EQ(CloseLink(serial.data()), 1);
  writes = Writes(device);
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(writes.back(), kModeZero);
  // Mode 0 on an output buffer sends no block in between.
  EXPECT_EQ(writes.size(), 2u);
  EXPECT_EQ(OmbrixSimOpenHandles(device), 0);
  EXPECT_EQ(OmbrixSimLibraryThreads(), 0);
  EXPECT_EQ(OmbrixSimPendingTransfers(device), 0);
  EXPECT_EQ(CloseLink(serial.data()), 0);
}

TEST_F(LinkLifecycleTest, UnknownSerialTakesFourWalksAndLeavesNothing) {
  AddFamilyDevice(0x0832, 0x0100, "PRESENT000000001");
  Serial absent = SerialOf("ABSENT0000000001");
  uint32_t before = OmbrixSimWalkCount();
  EXPECT_EQ(OpenLink(absent.data(), nullptr, nullptr), 0);
  EXPECT_EQ(OmbrixSimWalkCount() - before, 4u);
  EXPECT_EQ(OmbrixSimOpenHandles(1), 0);
  EXPECT_EQ(OmbrixSimLibraryThreads(), 0);
  uint8_t list[512];
  GetAllOpenedInterfaces(list);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list), 16), "0000000000000000");
}

TEST_F(LinkLifecycleTest, OpeningAnOpenSerialChangesNothing) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "TWICE00000000001");
  Serial serial = SerialOf("TWICE00000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  uint32_t walks = OmbrixSimWalkCount();
  uint32_t writes = OmbrixSimWriteCount(device);
  uint8_t output[512] = {};
  EXPECT_EQ(OpenLink(serial.data(), output, nullptr), 1);
  EXPECT_EQ(OmbrixSimWalkCount(), walks);
  EXPECT_EQ(OmbrixSimWriteCount(device), writes);
  // It stays a queue-mode link: the buffer given the second time is ignored.
  uint8_t universe[512] = {};
  EXPECT_EQ(SendDmxUniverse(serial.data(), universe), 1);
}

TEST_F(LinkLifecycleTest, LinkIdsGrowAcrossReopen) {
  AddFamilyDevice(0x0833, 0x0100, "IDS0000000000001");
  Serial serial = SerialOf("IDS0000000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  int32_t first = RegisterInterfaceChangeNotificationSerial(serial.data(), nullptr);
  ASSERT_EQ(CloseLink(serial.data()), 1);
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  int32_t second = RegisterInterfaceChangeNotificationSerial(serial.data(), nullptr);
  EXPECT_GT(first, 0);
  EXPECT_GT(second, first);
}

TEST_F(LinkLifecycleTest, UnreadableSerialInterfaceIsTakenForAnySerial) {
  int32_t anonymous = OmbrixSimAddDevice(0x16D0, 0x0830, 0x0100, nullptr, -1);
  int32_t named = AddFamilyDevice(0x0832, 0x0100, "NAMED00000000001");
  Serial wanted = SerialOf("NAMED00000000001");
  ASSERT_EQ(OpenLink(wanted.data(), nullptr, nullptr), 1);
  // It comes first in the enumeration, so it is the one taken.
  EXPECT_EQ(OmbrixSimOpenHandles(anonymous), 1);
  EXPECT_EQ(OmbrixSimOpenHandles(named), 0);
  EXPECT_EQ(GetDeviceVersion(wanted.data()), 0x0100);
}

TEST_F(LinkLifecycleTest, EmptySerialInterfaceIsNeverOpened) {
  AddDevice(0x16D0, 0x0832, 0x0100, {});
  Serial empty{};
  EXPECT_EQ(OpenLink(empty.data(), nullptr, nullptr), 0);
}

TEST_F(LinkLifecycleTest, OpenedListIsOldestFirstAndShiftsAfterAClose) {
  const char* names[] = {"ORDER00000000001", "ORDER00000000002", "ORDER00000000003"};
  for (const char* name : names) AddFamilyDevice(0x0833, 0x0100, name);
  for (const char* name : names) ASSERT_EQ(OpenLink(SerialOf(name).data(), nullptr, nullptr), 1);
  uint8_t list[512];
  GetAllOpenedInterfaces(list);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(std::string(reinterpret_cast<char*>(list + 16 * i), 16), names[i]);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list + 48), 16), "0000000000000000");
  ASSERT_EQ(CloseLink(SerialOf(names[0]).data()), 1);
  GetAllOpenedInterfaces(list);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list), 16), names[1]);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list + 16), 16), names[2]);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list + 32), 16), "0000000000000000");
}

TEST_F(LinkLifecycleTest, CloseAllKeepsAZeroSerialLink) {
  OmbrixSimAddDevice(0x16D0, 0x0830, 0x0100, nullptr, -1);
  AddFamilyDevice(0x0832, 0x0100, "OTHER00000000001");
  Serial zero{};
  ASSERT_EQ(OpenLink(zero.data(), nullptr, nullptr), 1);  // the unreadable one
  ASSERT_EQ(OpenLink(SerialOf("OTHER00000000001").data(), nullptr, nullptr), 1);
  EXPECT_EQ(CloseAllLinks(), 1);
  uint8_t list[512];
  GetAllOpenedInterfaces(list);
  EXPECT_EQ(std::memcmp(list, zero.data(), 16), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list + 16), 16), "0000000000000000");
  EXPECT_EQ(CloseLink(zero.data()), 1);
  EXPECT_EQ(CloseAllLinks(), 1);
}

TEST_F(LinkLifecycleTest, ThreadsStartAgainAfterTheLastLinkClosed) {
  AddFamilyDevice(0x0833, 0x0100, "AGAIN00000000001");
  Serial serial = SerialOf("AGAIN00000000001");
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
    EXPECT_EQ(OmbrixSimLibraryThreads(), 2);
    ASSERT_EQ(CloseLink(serial.data()), 1);
    EXPECT_EQ(OmbrixSimLibraryThreads(), 0);
  }
}

TEST_F(LinkLifecycleTest, NeverCompletingWriteDelaysCloseOnlyByTheTimeOut) {
  int32_t device = AddFamilyDevice(0x0832, 0x0100, "STUCK00000000001");
  Serial serial = SerialOf("STUCK00000000001");
  ASSERT_EQ(OpenLink(serial.data(), nullptr, nullptr), 1);
  OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_NEVER, 0);
  ASSERT_EQ(SetInterfaceMode(serial.data(), 2), 1);  // its report never completes
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimPendingTransfers(device) >= 1; }));
  EXPECT_EQ(CloseLink(serial.data()), 1);
  EXPECT_EQ(OmbrixSimPendingTransfers(device), 0);
  EXPECT_EQ(OmbrixSimOpenHandles(device), 0);
}

}  // namespace
