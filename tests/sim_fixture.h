// Shared scaffolding for tests that script simulated interfaces.
#ifndef OMBRIX_TESTS_SIM_FIXTURE_H
#define OMBRIX_TESTS_SIM_FIXTURE_H

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ombrix_usb.h"
#include "ombrix_usb_sim.h"
#include "platform/platform.h"

namespace ombrix_test {

using Serial = std::array<uint8_t, 16>;
using Bytes = std::vector<uint8_t>;

// The 16 bytes of a serial given as text (padded with NULs).
Serial SerialOf(const std::string& text);
// Adds a device of the family (vendor 0x16D0) whose serial string is text.
int32_t AddFamilyDevice(uint16_t productId, uint16_t release, const std::string& text);
// Adds any device with a UTF-16 serial given as units.
int32_t AddDevice(uint16_t vendorId, uint16_t productId, uint16_t release, const std::vector<uint16_t>& units);

// Every write the device accepted, oldest first.
std::vector<Bytes> Writes(int32_t device);
// A 34-byte report: report ID 0, then the payload bytes given, then zeros.
Bytes Report(std::initializer_list<uint8_t> payload);
// The 34-byte wire form of an input block report.
Bytes InputBlock(uint8_t block, uint8_t firstValue);

// Polls until condition holds or timeoutMs passes; returns whether it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// Drains a queue-mode link: sends the uniform universe of value first, and
// the next value after it (up to last) whenever the newest one has not
// reached the wire in a while (a full ring drops a universe), until
// the newest one sent has its block 15 as the device's last write. From
// then on the link sends nothing until it is given another universe:
// taking that frame up took every older one with it, and none is newer.
// A quiet spell on the wire proves no such thing, since an I/O thread that
// stalls in the middle of a frame is quiet too. Returns whether it got
// there; the values must be ones the test sends nowhere else.
bool SendUntilLastFrameIsOut(int32_t device, const Serial& serial, uint8_t first, uint8_t last);

// Application-side access to a universe buffer the library shares.
void StoreChannel(uint8_t* universe, int index, uint8_t value);
uint8_t LoadChannel(const uint8_t* universe, int index);

// A thread of the platform layer (std::thread is not available on every
// toolchain the suite is built with). Joined at the latest on destruction.
class TestThread {
 public:
  explicit TestThread(std::function<void()> body);
  ~TestThread();
  TestThread(const TestThread&) = delete;
  TestThread& operator=(const TestThread&) = delete;
  void Join();

 private:
  std::function<void()> body_;
  ::ombrix::platform::ThreadObject* thread_ = nullptr;
};

// Resets the simulator before each test and checks afterwards that the test
// closed its links and left neither handles nor library threads behind.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace ombrix_test

#endif  // OMBRIX_TESTS_SIM_FIXTURE_H
