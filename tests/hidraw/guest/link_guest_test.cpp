// Links over real hidraw nodes: what the device receives, what it sends,
// unplugging, and a device that stops answering beside one that does not.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "guest_support.h"
#include "uhid_device.h"

using namespace guest;
using std::chrono::milliseconds;

namespace {

constexpr size_t kReportBytes = 34;

std::vector<uint8_t> ModeReport(uint8_t mode) {
  std::vector<uint8_t> report(kReportBytes, 0);
  report[1] = 0x10;
  report[2] = mode;
  return report;
}

std::vector<uint8_t> BlockReport(uint8_t type, const uint8_t* universe, int block) {
  std::vector<uint8_t> report(kReportBytes, 0);
  report[1] = type;
  std::memcpy(report.data() + 2, universe + 32 * block, 32);
  return report;
}

// A device created and listed, ready to be opened.
struct Interface {
  Interface(uint16_t product, const std::string& serialText)
      : device(kVendor, product, serialText), serial(SerialOf(serialText)) {
    ready = device.WaitStarted(milliseconds(5000)) && WaitListed(serial);
  }
  UhidDevice device;
  std::vector<uint8_t> serial;
  bool ready = false;
};

bool Contains(const std::vector<Received>& reports, const std::vector<uint8_t>& wanted) {
  for (const Received& received : reports) {
    if (received.report == wanted) return true;
  }
  return false;
}

TEST(HidrawLink, PolledOutputAndInput) {
  Interface interface(0x0830, "POLLEDLINK000001");
  ASSERT_TRUE(interface.ready);
  uint8_t output[512];
  uint8_t input[512];
  for (int i = 0; i < 512; ++i) output[i] = static_cast<uint8_t>(i * 7);
  std::memset(input, 0xEE, sizeof input);
  ASSERT_EQ(OpenLink(interface.serial.data(), output, input), 1);
  EXPECT_EQ(input[100], 0) << "OpenLink clears the input buffer";

  std::vector<Received> reports = interface.device.WaitForReports(1, milliseconds(5000));
  ASSERT_GE(reports.size(), 1u);
  EXPECT_EQ(reports[0].report, ModeReport(0)) << "mode 0 on opening";

  ASSERT_EQ(SetInterfaceMode(interface.serial.data(), 2), 1);
  reports = interface.device.WaitForReports(18, milliseconds(5000));
  ASSERT_GE(reports.size(), 18u);
  EXPECT_EQ(reports[1].report, ModeReport(2));
  for (int block = 0; block < 16; ++block) {
    EXPECT_EQ(reports[2 + block].report, BlockReport(static_cast<uint8_t>(block), output, block)) << "block " << block;
  }

  // Input: block 3 from the device lands in bytes 96..127.
  std::vector<uint8_t> payload(33);
  payload[0] = 3;
  for (int i = 1; i < 33; ++i) payload[i] = static_cast<uint8_t>(0xA0 + i);
  ASSERT_TRUE(interface.device.SendInput(payload));
  EXPECT_TRUE(WaitUntil([&] { return std::memcmp(input + 96, payload.data() + 1, 32) == 0; }));

  // A changed channel sends its block again, and only that one.
  interface.device.ClearReports();
  output[40] ^= 0xFF;
  reports = interface.device.WaitForReports(1, milliseconds(5000));
  ASSERT_GE(reports.size(), 1u);
  EXPECT_EQ(reports[0].report, BlockReport(1, output, 1));

  EXPECT_EQ(CloseLink(interface.serial.data()), 1);
  EXPECT_TRUE(Contains(interface.device.WaitForReports(2, milliseconds(2000)), ModeReport(0))) << "mode 0 on closing";
}

TEST(HidrawLink, QueuedUniversesGoOutAsFrameBlocks) {
  Interface interface(0x0833, "QUEUEDLINK000001");
  ASSERT_TRUE(interface.ready);
  ASSERT_EQ(OpenLink(interface.serial.data(), nullptr, nullptr), 1);
  // Queued before the mode goes up, so that it replaces the blank frame a
  // queue-mode link holds from open. Queued afterwards, the blank frame may
  // go out first, and its 16 reports with the mode reports and these 16 are
  // more than the 32 output events uhid keeps for a device server that
  // falls behind: the last blocks could be dropped on the way.
  uint8_t universe[512];
  for (int i = 0; i < 512; ++i) universe[i] = static_cast<uint8_t>(255 - i);
  ASSERT_EQ(SendDmxUniverse(interface.serial.data(), universe), 1);
  ASSERT_EQ(SetInterfaceMode(interface.serial.data(), 2), 1);

  // Product 0x0833 takes the frame variant of each block (type 0x20 + n).
  bool allSent = WaitUntil([&] {
    std::vector<Received> reports = interface.device.Reports();
    for (int block = 0; block < 16; ++block) {
      if (!Contains(reports, BlockReport(static_cast<uint8_t>(0x20 + block), universe, block))) return false;
    }
    return true;
  });
  EXPECT_TRUE(allSent);
  EXPECT_EQ(CloseLink(interface.serial.data()), 1);
}

std::atomic<int> g_interfaceChanges{0};
void OMBRIX_CALL CountInterfaceChange() { ++g_interfaceChanges; }

TEST(HidrawLink, UnplugWithTransfersOutstanding) {
  Interface interface(0x0830, "UNPLUGLINK000001");
  ASSERT_TRUE(interface.ready);
  g_interfaceChanges = 0;
  ASSERT_EQ(RegisterInterfaceChangeNotification(&CountInterfaceChange), 1);
  uint8_t output[512] = {};
  uint8_t input[512];
  ASSERT_EQ(OpenLink(interface.serial.data(), output, input), 1);
  ASSERT_EQ(SetInterfaceMode(interface.serial.data(), 2), 1);
  ASSERT_GE(interface.device.WaitForReports(18, milliseconds(5000)).size(), 18u);

  // A read is always outstanding; unplugging ends it with failure.
  interface.device.Unplug();
  EXPECT_TRUE(WaitUntil([] { return g_interfaceChanges.load() >= 1; }));
  output[0] = 1;  // a write to the dead node does not start, silently
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(CloseLink(interface.serial.data()), 1);
  std::printf("interface-change callbacks after unplug: %d\n", g_interfaceChanges.load());
  UnregisterInterfaceChangeNotification();
}

// One device stops reading its /dev/uhid for 2 s while another keeps
// going. For a uhid device the kernel completes the hidraw write() as soon
// as the output event is queued (and drops events once its 32-entry queue
// is full), so this checks that a silent device holds up nobody else, and
// that it is served again once it answers. A write() that really blocks in
// the kernel is covered by the backend's own tests.
TEST(HidrawLink, SilentDeviceDoesNotHoldUpAnother) {
  Interface silent(0x0830, "SILENTLINK000001");
  Interface busy(0x0830, "BUSYLINK00000002");
  ASSERT_TRUE(silent.ready && busy.ready);
  uint8_t silentOutput[512] = {};
  uint8_t busyOutput[512] = {};
  uint8_t busyInput[512];
  ASSERT_EQ(OpenLink(silent.serial.data(), silentOutput, nullptr), 1);
  ASSERT_EQ(OpenLink(busy.serial.data(), busyOutput, busyInput), 1);
  ASSERT_EQ(SetInterfaceMode(silent.serial.data(), 2), 1);
  ASSERT_EQ(SetInterfaceMode(busy.serial.data(), 2), 1);
  ASSERT_GE(silent.device.WaitForReports(18, milliseconds(5000)).size(), 18u);
  ASSERT_GE(busy.device.WaitForReports(18, milliseconds(5000)).size(), 18u);
  busy.device.ClearReports();

  silent.device.Stall(milliseconds(2000));
  auto stallEnd = Clock::now() + milliseconds(2000);
  // Each change of the other link must reach its device, and each input
  // its buffer, while the silent device is still silent.
  int changes = 0;
  int outputsSeen = 0;
  int inputsSeen = 0;
  // Held up means held until the silent device answers again; anything
  // sooner is in time, however slow the emulated guest is.
  auto untilSilenceEnds = [&] { return std::chrono::duration_cast<milliseconds>(stallEnd - Clock::now()); };
  while (Clock::now() + milliseconds(300) < stallEnd) {
    ++changes;
    uint8_t value = static_cast<uint8_t>(changes);
    silentOutput[0] = value;  // written to a device that does not read
    busyOutput[0] = value;
    std::vector<uint8_t> payload(33, value);
    payload[0] = 5;
    busy.device.SendInput(payload);
    if (WaitUntil([&] { return busyInput[160] == value; }, untilSilenceEnds())) ++inputsSeen;
    std::vector<uint8_t> wanted = BlockReport(0, busyOutput, 0);
    if (WaitUntil(
            [&] {
              std::vector<Received> reports = busy.device.Reports();
              return !reports.empty() && reports.back().report == wanted && reports.back().at < stallEnd;
            },
            untilSilenceEnds())) {
      ++outputsSeen;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  std::printf("during the 2 s silence: %d of %d output changes and %d inputs reached the other link\n", outputsSeen,
              changes, inputsSeen);
  EXPECT_GE(changes, 3);
  EXPECT_EQ(outputsSeen, changes);
  EXPECT_EQ(inputsSeen, changes);

  // Once it answers again, the silent device is served as before.
  std::this_thread::sleep_until(stallEnd + milliseconds(100));
  silent.device.ClearReports();
  silentOutput[33] = 0x5A;
  EXPECT_TRUE(WaitUntil([&] { return Contains(silent.device.Reports(), BlockReport(1, silentOutput, 1)); }));

  EXPECT_EQ(CloseLink(busy.serial.data()), 1);
  EXPECT_EQ(CloseLink(silent.serial.data()), 1);
}

}  // namespace
