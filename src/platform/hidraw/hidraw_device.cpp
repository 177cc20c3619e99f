// Device handles and the HID queries over hidraw nodes.
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/hidraw/hidraw_codec.h"
#include "platform/hidraw/hidraw_device.h"

namespace ombrix::platform {

struct PreparsedObject {
  std::vector<uint8_t> descriptor;
};

namespace {

// The kernel keeps uniq in 64 bytes.
constexpr size_t kUniqBytes = 64;

void ReadDescriptor(Device device) {
  int size = 0;
  if (ioctl(device->fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE) return;
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<uint32_t>(size);
  if (ioctl(device->fd, HIDIOCGRDESC, &descriptor) < 0) return;
  device->descriptor.assign(descriptor.value, descriptor.value + size);
  device->descriptorRead = true;
  device->numberedReports = hidraw::DescriptorUsesReportIds(descriptor.value, descriptor.size);
}

// Release number and, where the uniq ioctl is missing, the uniq string come
// from udev: the USB device's bcdDevice (a virtual device has no USB parent
// and reports 0) and the HID device's HID_UNIQ property.
void ReadUdevIdentity(Device device, bool needUniq) {
  struct stat status {};
  if (fstat(device->fd, &status) < 0) return;
  udev* context = udev_new();
  if (context == nullptr) return;
  if (udev_device* node = udev_device_new_from_devnum(context, 'c', status.st_rdev)) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device");
    const char* bcd = usb != nullptr ? udev_device_get_sysattr_value(usb, "bcdDevice") : nullptr;
    if (bcd != nullptr) device->attributes.versionNumber = static_cast<uint16_t>(std::strtoul(bcd, nullptr, 16));
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr);
    const char* uniq = hid != nullptr ? udev_device_get_property_value(hid, "HID_UNIQ") : nullptr;
    if (needUniq && uniq != nullptr && uniq[0] != '\0') {
      device->uniq = uniq;
      device->uniqPresent = true;
    }
    udev_device_unref(node);
  }
  udev_unref(context);
}

void ReadIdentity(Device device) {
  hidraw_devinfo info{};
  if (ioctl(device->fd, HIDIOCGRAWINFO, &info) == 0) {
    device->attributes.vendorId = static_cast<uint16_t>(info.vendor);
    device->attributes.productId = static_cast<uint16_t>(info.product);
    device->attributesRead = true;
  }
  ReadDescriptor(device);
  char uniq[kUniqBytes + 1] = {};
  bool uniqIoctl = ioctl(device->fd, HIDIOCGRAWUNIQ(kUniqBytes), uniq) >= 0;
  if (uniqIoctl && uniq[0] != '\0') {
    device->uniq = uniq;
    device->uniqPresent = true;
  }
  ReadUdevIdentity(device, !uniqIoctl);
}

}  // namespace

Device DeviceOpen(DevicePath path) {
  // Non-blocking, so that a read() after poll() can never hang the reader.
  int fd = open(path->node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DeviceObject* device = new (std::nothrow) DeviceObject;
  if (device == nullptr) {
    close(fd);
    return nullptr;
  }
  device->fd = fd;
  ReadIdentity(device);
  return device;
}

void DeviceClose(Device device) {
  if (device == nullptr) return;
  // Joins the transfer threads: may wait for a cancelled write that the
  // kernel is still carrying out before the descriptor can go.
  delete device->transfers;
  close(device->fd);
  delete device;
}

bool HidGetAttributes(Device device, HidAttributes* attributes) {
  if (!device->attributesRead) return false;
  *attributes = device->attributes;
  return true;
}

Preparsed HidGetPreparsedData(Device device) {
  if (!device->descriptorRead) return nullptr;
  return new (std::nothrow) PreparsedObject{device->descriptor};
}

bool HidGetCaps(Preparsed preparsed) { return !preparsed->descriptor.empty(); }

void HidFreePreparsedData(Preparsed preparsed) { delete preparsed; }

// An empty uniq counts as no serial-number string: USB devices without a
// serial descriptor, and most virtual ones, leave uniq empty.
bool HidGetSerialNumberString(Device device, uint16_t* buffer, uint32_t bufferBytes) {
  if (!device->uniqPresent || bufferBytes < sizeof(uint16_t)) return false;
  hidraw::Utf8ToUtf16(device->uniq.data(), device->uniq.size(), buffer, bufferBytes / sizeof(uint16_t));
  return true;
}

}  // namespace ombrix::platform

namespace ombrix::hidraw {

platform::Device AdoptDescriptor(int fd, bool numberedReports) {
  platform::DeviceObject* device = new (std::nothrow) platform::DeviceObject;
  if (device == nullptr) return nullptr;
  device->fd = fd;
  device->numberedReports = numberedReports;
  return device;
}

}  // namespace ombrix::hidraw
