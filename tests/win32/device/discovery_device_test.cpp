// Discovery through Wine's setupapi and hid.dll over the guest's hidraw
// nodes: which devices are listed, with what serial and type code.
#include <cstdio>
#include <set>

#include "device_fixture.h"
#include "device_script_protocol.h"

namespace device_test {
namespace {

int TypeCodeOf(const ScriptedDevice& device) {
  if (!IsFamily(device)) return 0;
  switch (device.product) {
    case 0x0754:
    case 0x0830:
      return 1;
    case 0x0832:
      return 2;
    case 0x0833:
      return 3;
    default:
      return 0;
  }
}

class WineDiscovery : public DeviceTest {};

TEST_F(WineDiscovery, ListsTheFamilyOnlyWithTheirTypeCodes) {
  std::vector<ScriptedDevice> present = Script().List();
  ASSERT_FALSE(present.empty()) << Script().error();
  std::set<Bytes> family;
  for (const ScriptedDevice& device : present) {
    if (IsFamily(device)) family.insert(SerialOf(device.name));
  }

  uint8_t list[512];
  std::memset(list, 0x55, sizeof list);
  Dll().GetAllConnectedInterfaces(list);
  std::set<Bytes> listed;
  std::string order;
  for (const Bytes& slot : Slots(list)) {
    if (slot == Fill()) continue;
    EXPECT_TRUE(listed.insert(slot).second) << "listed twice: " << Text(slot);
    order += " " + Text(slot);
  }
  // The family devices exactly, in the first slots, the fill after them.
  EXPECT_EQ(listed, family);
  std::vector<Bytes> slots = Slots(list);
  for (size_t slot = family.size(); slot < slots.size(); ++slot) EXPECT_EQ(slots[slot], Fill()) << "slot " << slot;
  std::printf("listed in this order:%s\n", order.c_str());

  // Each walk opens every device, slow under emulation: the shared devices
  // cover every type code and both kinds of stranger.
  for (const ScriptedDevice& device : present) {
    if (device.name.find("UNPLUG") != std::string::npos) continue;
    EXPECT_EQ(Dll().GetDeviceTyp(SerialOf(device.name).data()), TypeCodeOf(device)) << device.name;
  }
  Bytes absent = SerialOf("NOT-THERE");
  EXPECT_EQ(Dll().GetDeviceTyp(absent.data()), 0);
  EXPECT_EQ(Dll().GetDeviceVersion(absent.data()), 0);
}

TEST_F(WineDiscovery, ReleaseNumberWhereTheHidStackShowsIt) {
  Bytes serial = SerialOf("TYPE1-0754");
  ASSERT_EQ(Dll().GetDeviceTyp(serial.data()), 1) << "the device is not there";
  int32_t version = Dll().GetDeviceVersion(serial.data());
  if (version == 0 && RunsOnWine()) {
    // Wine takes the HID attributes' version from the USB parent device,
    // which a uhid device does not have: it is 0 whatever the device says.
    std::printf("NOT SHOWN UNDER WINE: the release number (Wine reports 0; the device says 0x%04x)\n",
                device_script::kVersionNumber);
  } else {
    EXPECT_EQ(version, device_script::kVersionNumber);
  }
}

}  // namespace
}  // namespace device_test
