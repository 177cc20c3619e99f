// Helpers shared by the guest tests: serials, polling waits, the device
// family's IDs.
#ifndef OMBRIX_TESTS_HIDRAW_GUEST_GUEST_SUPPORT_H
#define OMBRIX_TESTS_HIDRAW_GUEST_GUEST_SUPPORT_H

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ombrix_usb.h"

namespace guest {

constexpr uint16_t kVendor = 0x16D0;

// The 16-byte key of an interface whose uniq string is text (ASCII).
inline std::vector<uint8_t> SerialOf(const std::string& text) {
  std::vector<uint8_t> serial(16, 0);
  std::memcpy(serial.data(), text.data(), text.size() < 16 ? text.size() : 16);
  return serial;
}

inline std::vector<std::vector<uint8_t>> ConnectedSerials() {
  uint8_t list[512];
  GetAllConnectedInterfaces(list);
  std::vector<std::vector<uint8_t>> serials;
  for (int slot = 0; slot < 32; ++slot) serials.emplace_back(list + 16 * slot, list + 16 * slot + 16);
  return serials;
}

// Polls condition every millisecond until it holds or limit passes.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Waits until the walk lists serial: the hidraw node appears shortly after
// the kernel has started the device.
inline bool WaitListed(const std::vector<uint8_t>& serial) {
  return WaitUntil([&] {
    for (const auto& listed : ConnectedSerials()) {
      if (listed == serial) return true;
    }
    return false;
  });
}

}  // namespace guest

#endif  // OMBRIX_TESTS_HIDRAW_GUEST_GUEST_SUPPORT_H
