// A Link over a simulated device that no library thread serves, for tests
// of the pieces the I/O thread is built from.
#ifndef OMBRIX_TESTS_STANDALONE_LINK_H
#define OMBRIX_TESTS_STANDALONE_LINK_H

#include <memory>

#include "platform/platform.h"
#include "registry/link.h"

namespace ombrix_test {

class StandaloneLink {
 public:
  // Opens the device at position index (0-based) of the enumeration.
  explicit StandaloneLink(uint32_t index) : link_(new ombrix::Link) {
    namespace platform = ombrix::platform;
    platform::DeviceSet set = platform::DeviceSetOpen();
    if (set != nullptr) {
      if (platform::DevicePath path = platform::DeviceSetInterfacePath(set, index)) {
        link_->device = platform::DeviceOpen(path);
        platform::DevicePathFree(path);
      }
      platform::DeviceSetClose(set);
    }
    link_->readEvent = platform::EventCreate();
    link_->writeEvent = platform::EventCreate();
    link_->isOpen.store(1);
  }
  ~StandaloneLink() {
    namespace platform = ombrix::platform;
    if (link_->device != nullptr) platform::DeviceClose(link_->device);
    platform::EventClose(link_->readEvent);
    platform::EventClose(link_->writeEvent);
  }
  StandaloneLink(const StandaloneLink&) = delete;
  StandaloneLink& operator=(const StandaloneLink&) = delete;

  ombrix::Link* get() { return link_.get(); }
  ombrix::Link* operator->() { return link_.get(); }

 private:
  std::unique_ptr<ombrix::Link> link_;
};

}  // namespace ombrix_test

#endif  // OMBRIX_TESTS_STANDALONE_LINK_H
