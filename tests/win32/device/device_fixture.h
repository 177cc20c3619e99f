// What the device tests share: this run's device names and serials, the
// wire form of the reports they expect, waits, and a fixture that fails
// with the reason when the DLL or the device server is not usable.
#ifndef OMBRIX_TESTS_WIN32_DEVICE_DEVICE_FIXTURE_H
#define OMBRIX_TESTS_WIN32_DEVICE_DEVICE_FIXTURE_H

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device_script.h"
#include "ombrix_dll.h"

namespace device_test {

constexpr size_t kReportBytes = 34;

// A device that each word size's run has of its own: "W64-..." or "W32-...".
inline std::string OwnDevice(const char* role) { return std::string(sizeof(void*) == 8 ? "W64-" : "W32-") + role; }

// The 16-byte key of a device: its ASCII serial string, zero-padded.
inline Bytes SerialOf(const std::string& name) {
  Bytes serial(16, 0);
  std::memcpy(serial.data(), name.data(), name.size() < 16 ? name.size() : 16);
  return serial;
}

// A serial as text, up to its first zero byte.
inline std::string Text(const Bytes& serial) {
  return std::string(serial.begin(), std::find(serial.begin(), serial.end(), uint8_t{0}));
}

inline bool IsFamily(const ScriptedDevice& device) {
  return device.vendor == 0x16D0 &&
         (device.product == 0x0754 || device.product == 0x0830 || device.product == 0x0832 || device.product == 0x0833);
}

inline Bytes ModeReport(uint8_t mode) {
  Bytes report(kReportBytes, 0);
  report[1] = 0x10;
  report[2] = mode;
  return report;
}

inline Bytes BlockReport(uint8_t type, const uint8_t* universe, int block) {
  Bytes report(kReportBytes, 0);
  report[1] = type;
  std::memcpy(report.data() + 2, universe + 32 * block, 32);
  return report;
}

inline Bytes InputPayload(uint8_t type, uint8_t first) {
  Bytes payload(33, 0);
  payload[0] = type;
  for (int i = 1; i < 33; ++i) payload[i] = static_cast<uint8_t>(first + i);
  return payload;
}

// The serials of a 512-byte serial list, slot by slot.
inline std::vector<Bytes> Slots(const uint8_t* list) {
  std::vector<Bytes> slots;
  for (int slot = 0; slot < 32; ++slot) slots.emplace_back(list + 16 * slot, list + 16 * slot + 16);
  return slots;
}

inline const Bytes& Fill() {
  static const Bytes fill(16, '0');
  return fill;
}

// Polls condition every millisecond until it holds or limitMs passes.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD limitMs = 10000) {
  DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(1);
  }
  return true;
}

// True when the program runs on Wine rather than on Windows.
inline bool RunsOnWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Waits, once per process, until the DLL's walk lists every family device
// the server has up: Wine's bus driver adds the hidraw devices one by one
// after Wine starts. Fails with what is missing after limitMs.
::testing::AssertionResult WaitUntilAllListed(DWORD limitMs);

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dll().loaded()) << Dll().error;
    ASSERT_TRUE(Script().error().empty()) << "device server: " << Script().error();
    ASSERT_TRUE(WaitUntilAllListed(120000));
  }
  void TearDown() override {
    EXPECT_TRUE(Script().error().empty()) << "device server: " << Script().error();
    // A test that failed half-way must not leave a link for the next one.
    Dll().CloseAllLinks();
  }
};

}  // namespace device_test

#endif  // OMBRIX_TESTS_WIN32_DEVICE_DEVICE_FIXTURE_H
