// Discovery over real hidraw nodes: which virtual devices are listed, with
// what serial, type and release number.
#include <gtest/gtest.h>

#include <algorithm>

#include "guest_support.h"
#include "uhid_device.h"

using namespace guest;
using std::chrono::milliseconds;

namespace {

const std::vector<uint8_t> kFill(16, '0');

TEST(HidrawDiscovery, ListsTheFamilyAndNothingElse) {
  UhidDevice first(kVendor, 0x0830, "DISCOVERYSERIAL1");
  UhidDevice other(0x1234, 0x0754, "OTHERVENDORSER02");  // right product, wrong vendor
  UhidDevice second(kVendor, 0x0833, "DISCOVERYSERIAL3");
  ASSERT_TRUE(first.WaitStarted(milliseconds(5000)) && other.WaitStarted(milliseconds(5000)) &&
              second.WaitStarted(milliseconds(5000)));
  ASSERT_TRUE(WaitListed(SerialOf("DISCOVERYSERIAL1")));
  ASSERT_TRUE(WaitListed(SerialOf("DISCOVERYSERIAL3")));

  std::vector<std::vector<uint8_t>> serials = ConnectedSerials();
  // Listed in the order of their hidraw nodes, which the kernel numbers as
  // its probes end: not always the order the devices were created in.
  std::vector<std::vector<uint8_t>> listed(serials.begin(), serials.begin() + 2);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::vector<uint8_t>>{SerialOf("DISCOVERYSERIAL1"), SerialOf("DISCOVERYSERIAL3")}));
  for (int slot = 2; slot < 32; ++slot) EXPECT_EQ(serials[slot], kFill) << "slot " << slot;

  EXPECT_EQ(GetDeviceTyp(SerialOf("DISCOVERYSERIAL1").data()), 1);
  EXPECT_EQ(GetDeviceTyp(SerialOf("DISCOVERYSERIAL3").data()), 3);
  EXPECT_EQ(GetDeviceTyp(SerialOf("OTHERVENDORSER02").data()), 0);
  // A virtual device has no USB bcdDevice: release number 0.
  EXPECT_EQ(GetDeviceVersion(SerialOf("DISCOVERYSERIAL1").data()), 0);
}

TEST(HidrawDiscovery, SerialsAreNarrowedFromTheUniqString) {
  // U+0141 arrives as UTF-8 and narrows to 0x41; a short serial is padded
  // with zero bytes.
  UhidDevice wide(kVendor, 0x0832,
                  "\xC5\x81"
                  "BCDEFGHIJKLMNOP");
  UhidDevice shortSerial(kVendor, 0x0754, "SHORT");
  ASSERT_TRUE(wide.WaitStarted(milliseconds(5000)) && shortSerial.WaitStarted(milliseconds(5000)));
  ASSERT_TRUE(WaitListed(SerialOf("ABCDEFGHIJKLMNOP")));
  ASSERT_TRUE(WaitListed(SerialOf("SHORT")));
  EXPECT_EQ(GetDeviceTyp(SerialOf("ABCDEFGHIJKLMNOP").data()), 2);
  EXPECT_EQ(GetDeviceTyp(SerialOf("SHORT").data()), 1);
}

TEST(HidrawDiscovery, DeviceWithoutSerialIsNotListed) {
  UhidDevice noSerial(kVendor, 0x0830, "");
  UhidDevice named(kVendor, 0x0830, "HASASERIALSTRING");
  ASSERT_TRUE(noSerial.WaitStarted(milliseconds(5000)) && named.WaitStarted(milliseconds(5000)));
  ASSERT_TRUE(WaitListed(SerialOf("HASASERIALSTRING")));
  std::vector<std::vector<uint8_t>> serials = ConnectedSerials();
  EXPECT_EQ(serials[0], SerialOf("HASASERIALSTRING"));
  EXPECT_EQ(serials[1], kFill);
}

}  // namespace
