// Discovery as a caller sees it: the serial list, type codes and release
// numbers over a scripted set of simulated devices.
#include <cstring>

#include "sim_fixture.h"

using namespace ombrix_test;

namespace {

std::array<uint8_t, 512> ListConnected() {
  std::array<uint8_t, 512> list;
  list.fill(0xEE);
  GetAllConnectedInterfaces(list.data());
  return list;
}

std::string Slot(const std::array<uint8_t, 512>& list, int slot) {
  return std::string(reinterpret_cast<const char*>(list.data() + 16 * slot), 16);
}

const std::string kFill = "0000000000000000";

void ExpectNoHandles(int32_t lastDevice) {
  for (int32_t device = 1; device <= lastDevice; ++device) EXPECT_EQ(OmbrixSimOpenHandles(device), 0) << device;
}

class DiscoveryTest : public SimTest {};

TEST_F(DiscoveryTest, NothingAttachedGivesFillAndZeros) {
  auto list = ListConnected();
  for (int slot = 0; slot < 32; ++slot) EXPECT_EQ(Slot(list, slot), kFill);
  Serial serial = SerialOf("ABCDEFGHIJKLMNOP");
  EXPECT_EQ(GetDeviceTyp(serial.data()), 0);
  EXPECT_EQ(GetDeviceVersion(serial.data()), 0);
}

TEST_F(DiscoveryTest, ListsFamilyInterfacesInOrderWithTypesAndVersions) {
  AddFamilyDevice(0x0754, 0x0101, "SERIAL0754000001");
  AddFamilyDevice(0x0830, 0x0106, "SERIAL0830000002");
  AddFamilyDevice(0x0832, 0x0200, "SERIAL0832000003");
  AddFamilyDevice(0x0833, 0x0300, "SERIAL0833000004");
  auto list = ListConnected();
  EXPECT_EQ(Slot(list, 0), "SERIAL0754000001");
  EXPECT_EQ(Slot(list, 3), "SERIAL0833000004");
  EXPECT_EQ(Slot(list, 4), kFill);
  const int expectedTypes[] = {1, 1, 2, 3};
  const int expectedVersions[] = {0x0101, 0x0106, 0x0200, 0x0300};
  for (int i = 0; i < 4; ++i) {
    const uint8_t* serial = list.data() + 16 * i;
    EXPECT_EQ(GetDeviceTyp(serial), expectedTypes[i]);
    EXPECT_EQ(GetDeviceVersion(serial), expectedVersions[i]);
  }
  ExpectNoHandles(4);
}

// The scenario of a crowded bus: 40 family devices, one outside the
// family, one with an unreadable and one with an empty serial.
TEST_F(DiscoveryTest, CrowdedBusFillsExactlyThirtyTwoSlots) {
  AddDevice(0x1234, 0x0754, 0x0100, {'F', 'O', 'R', 'E', 'I', 'G', 'N'});
  OmbrixSimAddDevice(0x16D0, 0x0830, 0x0100, nullptr, -1);  // unreadable serial
  AddDevice(0x16D0, 0x0832, 0x0100, {});                    // empty serial
  for (int i = 0; i < 40; ++i) {
    char text[17];
    std::snprintf(text, sizeof text, "DEVICE%010d", i);
    AddFamilyDevice(0x0833, 0x0100, text);
  }
  auto list = ListConnected();
  // The empty serial is listed (its slot starts with a 0 byte) and the
  // unreadable and foreign ones are not.
  EXPECT_EQ(list[0], 0);
  EXPECT_EQ(Slot(list, 0), std::string(16, '\0'));
  EXPECT_EQ(Slot(list, 1), "DEVICE0000000000");
  EXPECT_EQ(Slot(list, 31), "DEVICE0000000030");
  ExpectNoHandles(43);
  EXPECT_EQ(OmbrixSimWalkCount(), 1u);
}

TEST_F(DiscoveryTest, ForeignVendorIsNeverListedOrMatched) {
  AddDevice(0x1234, 0x0754, 0x0100, std::vector<uint16_t>(16, 'X'));
  auto list = ListConnected();
  EXPECT_EQ(Slot(list, 0), kFill);
  Serial serial = SerialOf("XXXXXXXXXXXXXXXX");
  EXPECT_EQ(GetDeviceTyp(serial.data()), 0);
  EXPECT_EQ(GetDeviceVersion(serial.data()), 0);
}

TEST_F(DiscoveryTest, UnreadableSerialIsNotListedOrLookedUp) {
  OmbrixSimAddDevice(0x16D0, 0x0832, 0x0200, nullptr, -1);
  auto list = ListConnected();
  EXPECT_EQ(Slot(list, 0), kFill);
  Serial anything = SerialOf("ANYTHINGATALL000");
  EXPECT_EQ(GetDeviceTyp(anything.data()), 0);
  EXPECT_EQ(GetDeviceVersion(anything.data()), 0);
  ExpectNoHandles(1);
}

TEST_F(DiscoveryTest, SerialNarrowingKeepsLowBytesAndClearsAfterShortSerials) {
  // A long serial first, then a short one: the short one's slot must not
  // carry the long one's tail.
  AddFamilyDevice(0x0833, 0x0100, "LONGSERIAL123456");
  AddDevice(0x16D0, 0x0833, 0x0100, {0x0141, 'B', 'C'});  // U+0141 narrows to 'A'
  auto list = ListConnected();
  EXPECT_EQ(Slot(list, 0), "LONGSERIAL123456");
  EXPECT_EQ(Slot(list, 1), std::string("ABC") + std::string(13, '\0'));
  Serial shortSerial{};
  std::memcpy(shortSerial.data(), "ABC", 3);
  EXPECT_EQ(GetDeviceTyp(shortSerial.data()), 3);
}

TEST_F(DiscoveryTest, SerialsCompareAllSixteenBytes) {
  AddDevice(0x16D0, 0x0832, 0x0100, {'A', 'B', 'C'});
  Serial withTail{};
  std::memcpy(withTail.data(), "ABC\0X", 5);
  EXPECT_EQ(GetDeviceTyp(withTail.data()), 0);
}

TEST_F(DiscoveryTest, EachFailingWalkStepPassesOverOnlyThatDevice) {
  for (int step = OMBRIX_SIM_STEP_DETAIL; step <= OMBRIX_SIM_STEP_CAPS; ++step) {
    ASSERT_EQ(OmbrixSimReset(), 1);
    int32_t faulty = AddFamilyDevice(0x0832, 0x0100, "FAULTY0000000001");
    AddFamilyDevice(0x0833, 0x0100, "HEALTHY000000002");
    ASSERT_EQ(OmbrixSimSetFault(faulty, step, 1), 1);
    auto list = ListConnected();
    EXPECT_EQ(Slot(list, 0), "HEALTHY000000002") << "step " << step;
    EXPECT_EQ(Slot(list, 1), kFill) << "step " << step;
    Serial faultySerial = SerialOf("FAULTY0000000001");
    // The type look-up skips the capability query, so only that step's
    // fault leaves it able to find the device.
    EXPECT_EQ(GetDeviceTyp(faultySerial.data()), step == OMBRIX_SIM_STEP_CAPS ? 2 : 0) << "step " << step;
    EXPECT_EQ(GetDeviceVersion(faultySerial.data()), 0) << "step " << step;
    ExpectNoHandles(2);
    ASSERT_EQ(OmbrixSimSetFault(faulty, step, 0), 1);
    EXPECT_EQ(GetDeviceTyp(faultySerial.data()), 2);
  }
}

TEST_F(DiscoveryTest, UnavailableDeviceSetEndsEveryWalk) {
  AddFamilyDevice(0x0832, 0x0100, "PRESENT000000001");
  OmbrixSimSetDeviceSetAvailable(0);
  auto list = ListConnected();
  EXPECT_EQ(Slot(list, 0), kFill);
  Serial serial = SerialOf("PRESENT000000001");
  EXPECT_EQ(GetDeviceTyp(serial.data()), 0);
  EXPECT_EQ(GetDeviceVersion(serial.data()), 0);
  OmbrixSimSetDeviceSetAvailable(1);
  EXPECT_EQ(GetDeviceTyp(serial.data()), 2);
}

TEST_F(DiscoveryTest, UnpluggedDeviceLeavesAndReplugReturnsToItsPlace) {
  int32_t first = AddFamilyDevice(0x0832, 0x0100, "FIRST00000000001");
  AddFamilyDevice(0x0833, 0x0100, "SECOND0000000002");
  OmbrixSimUnplug(first);
  EXPECT_EQ(Slot(ListConnected(), 0), "SECOND0000000002");
  OmbrixSimReplug(first);
  EXPECT_EQ(Slot(ListConnected(), 0), "FIRST00000000001");
}

TEST_F(DiscoveryTest, NullArgumentsAreNotFound) {
  AddFamilyDevice(0x0832, 0x0100, "PRESENT000000001");
  GetAllConnectedInterfaces(nullptr);
  EXPECT_EQ(GetDeviceTyp(nullptr), 0);
  EXPECT_EQ(GetDeviceVersion(nullptr), 0);
  ExpectNoHandles(1);
}

}  // namespace
