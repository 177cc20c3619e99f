// The device walk over libudev's list of hidraw nodes.
//
// libudev reads sysfs and the udev database the same way on every
// distribution and keeps working without a running udevd (the QEMU test
// guest has none), so the walk does not depend on sysfs layout details.
#include <libudev.h>

#include <algorithm>
#include <new>
#include <string>
#include <sys/sysmacros.h>
#include <vector>

#include "platform/hidraw/hidraw_device.h"

namespace ombrix::platform {

struct DeviceSetObject {
  std::vector<std::string> nodes;  // device node paths, in walk order
};

namespace {

struct Member {
  unsigned minor;
  std::string node;
};

// The hidraw nodes present now, ordered by minor number: the order in
// which the kernel registered them, which stays the same from walk to walk
// while nothing is plugged in or out.
std::vector<Member> ListHidrawNodes(udev* context) {
  std::vector<Member> members;
  udev_enumerate* enumerate = udev_enumerate_new(context);
  if (enumerate == nullptr) return members;
  udev_enumerate_add_match_subsystem(enumerate, "hidraw");
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
    if (device == nullptr) continue;
    const char* node = udev_device_get_devnode(device);
    if (node != nullptr) members.push_back(Member{minor(udev_device_get_devnum(device)), node});
    udev_device_unref(device);
  }
  udev_enumerate_unref(enumerate);
  std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) { return a.minor < b.minor; });
  return members;
}

}  // namespace

DeviceSet DeviceSetOpen() {
  udev* context = udev_new();
  if (context == nullptr) return nullptr;
  DeviceSetObject* set = new (std::nothrow) DeviceSetObject;
  if (set != nullptr) {
    for (Member& member : ListHidrawNodes(context)) set->nodes.push_back(std::move(member.node));
  }
  udev_unref(context);
  return set;
}

bool DeviceSetHasInterface(DeviceSet set, uint32_t index) { return index < set->nodes.size(); }

DevicePath DeviceSetInterfacePath(DeviceSet set, uint32_t index) {
  if (index >= set->nodes.size()) return nullptr;
  return new (std::nothrow) DevicePathObject{set->nodes[index]};
}

void DevicePathFree(DevicePath path) { delete path; }
void DeviceSetClose(DeviceSet set) { delete set; }

}  // namespace ombrix::platform
