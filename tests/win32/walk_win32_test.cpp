// The device walk of the Win32 HID half on whatever HID devices the system
// has (none under Wine): every member it reports can be fetched, opened or
// passed over, and everything taken is given back. The discovery exports
// on top of it keep their fill when nothing of the family is attached.
#include <gtest/gtest.h>

#include <cstring>

#include "ombrix_usb.h"
#include "platform/platform.h"

namespace ombrix_test {
namespace {

using namespace ombrix::platform;

bool IsFill(const uint8_t* slot) { return std::memcmp(slot, "0000000000000000", 16) == 0; }

TEST(Win32Walk, VisitsEveryPresentMemberAndReleasesIt) {
  DeviceSet set = DeviceSetOpen();
  if (set == nullptr) GTEST_SKIP() << "the system offers no HID device set";
  for (uint32_t index = 0; DeviceSetHasInterface(set, index) && index < 1024; ++index) {
    DevicePath path = DeviceSetInterfacePath(set, index);
    if (path == nullptr) continue;
    Device device = DeviceOpen(path);
    DevicePathFree(path);
    if (device == nullptr) continue;
    HidAttributes attributes{};
    if (HidGetAttributes(device, &attributes)) {
      if (Preparsed preparsed = HidGetPreparsedData(device)) {
        HidGetCaps(preparsed);
        HidFreePreparsedData(preparsed);
      }
      uint16_t serial[100];
      std::memset(serial, 0xFF, sizeof serial);
      if (HidGetSerialNumberString(device, serial, sizeof serial)) {
        bool terminated = false;
        for (uint16_t unit : serial) terminated = terminated || unit == 0;
        EXPECT_TRUE(terminated) << "member " << index;
      }
    }
    DeviceClose(device);
  }
  DeviceSetClose(set);
}

TEST(Win32Walk, DiscoveryWithoutTheFamilyKeepsTheFill) {
  uint8_t list[512];
  std::memset(list, 0x55, sizeof list);
  GetAllConnectedInterfaces(list);
  // Listed serials, if any real interface is attached, come first, then
  // nothing but fill.
  int first = 0;
  while (first < 32 && !IsFill(list + 16 * first)) ++first;
  for (int slot = first; slot < 32; ++slot) EXPECT_TRUE(IsFill(list + 16 * slot)) << "slot " << slot;

  const uint8_t unknown[16] = {'n', 'o', ' ', 's', 'u', 'c', 'h', ' ', 'i', 'n', 't', 'e', 'r', 'f', 'a', 'c'};
  EXPECT_EQ(GetDeviceTyp(unknown), 0);
  EXPECT_EQ(GetDeviceVersion(unknown), 0);
}

}  // namespace
}  // namespace ombrix_test
