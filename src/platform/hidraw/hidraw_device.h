// The hidraw backend's device handle, shared by its files.
#ifndef OMBRIX_PLATFORM_HIDRAW_HIDRAW_DEVICE_H
#define OMBRIX_PLATFORM_HIDRAW_HIDRAW_DEVICE_H

#include <mutex>
#include <string>
#include <vector>

#include "platform/hidraw/hidraw_transfers.h"
#include "platform/platform.h"

namespace ombrix::platform {

// A member of the walk: the node's path under /dev.
struct DevicePathObject {
  std::string node;
};

// One open hidraw node. The identity fields are read once, by DeviceOpen,
// and are constant afterwards, so any thread may read them.
struct DeviceObject {
  int fd = -1;
  bool attributesRead = false;
  HidAttributes attributes{};
  bool descriptorRead = false;
  std::vector<uint8_t> descriptor;
  bool numberedReports = false;
  bool uniqPresent = false;
  std::string uniq;  // UTF-8, as the kernel keeps it

  // Created on the first transfer (the walk's handles never transfer).
  // transfersLock guards the pointer, not the object.
  std::mutex transfersLock;
  hidraw::Transfers* transfers = nullptr;
};

}  // namespace ombrix::platform

namespace ombrix::hidraw {

// Wraps an already open descriptor, without any identity, as a Device, so
// that the transfer machinery can be exercised over a socket pair in the
// unit tests. The device takes ownership of fd.
platform::Device AdoptDescriptor(int fd, bool numberedReports);

}  // namespace ombrix::hidraw

#endif  // OMBRIX_PLATFORM_HIDRAW_HIDRAW_DEVICE_H
