// Several application threads at once against the same links: opening and
// closing, feeding universes, changing modes, reading the configuration,
// listing, and devices coming and going. Under the sanitizer builds this is
// where a freed record or a racy field shows itself.
#include <atomic>
#include <chrono>

#include "sim_fixture.h"

using namespace ombrix_test;

namespace {

constexpr int kDevices = 4;
constexpr auto kRunFor = std::chrono::milliseconds(1500);

class StressTest : public SimTest {};

TEST_F(StressTest, ConcurrentExportsNeverTouchAFreedLink) {
  std::vector<Serial> serials;
  for (int i = 0; i < kDevices; ++i) {
    char text[17];
    std::snprintf(text, sizeof text, "STRESS%010d", i);
    AddFamilyDevice(i % 2 == 0 ? 0x0833 : 0x0830, 0x0106, text);
    serials.push_back(SerialOf(text));
    OmbrixSimSetWriteBehaviour(i + 1, OMBRIX_SIM_WRITE_COMPLETE, 200);
    OmbrixSimStreamInput(i + 1, 500);
  }
  static uint8_t outputs[kDevices][512];
  static uint8_t inputs[kDevices][512];
  auto deadline = std::chrono::steady_clock::now() + kRunFor;
  auto running = [&] { return std::chrono::steady_clock::now() < deadline; };
  std::atomic<int> opens{0};

  TestThread openClose([&] {
    for (int round = 0; running(); ++round) {
      int i = round % kDevices;
      // Even devices are fed through the queue, odd ones poll a buffer.
      if (OpenLink(serials[i].data(), i % 2 == 0 ? nullptr : outputs[i], inputs[i]) == 1) opens.fetch_add(1);
      if (round % 3 == 0) CloseLink(serials[(round / 3) % kDevices].data());
    }
  });
  TestThread sender([&] {
    std::array<uint8_t, 512> universe{};
    for (uint8_t value = 0; running(); ++value) {
      universe.fill(value);
      for (const Serial& serial : serials) SendDmxUniverse(serial.data(), universe.data());
      for (int i = 1; i < kDevices; i += 2) StoreChannel(outputs[i], value % 512, value);
    }
  });
  TestThread configurer([&] {
    for (int round = 0; running(); ++round) {
      const Serial& serial = serials[round % kDevices];
      SetInterfaceMode(serial.data(), round % 2 == 0 ? 2 : 6);
      SetInterfaceAdvTxConfig(serial.data(), round, round, 2, 3, 4, 512, 0);
      uint8_t byteValue = 0;
      uint16_t values[6] = {};
      GetInterfaceConfig(serial.data(), &byteValue, &values[0], &values[1], &values[2], &values[3], &values[4],
                         &values[5]);
      uint8_t list[512];
      GetAllOpenedInterfaces(list);
      GetDeviceVersion(serial.data());
    }
  });
  TestThread plugger([&] {
    for (int round = 0; running(); ++round) {
      int32_t device = round % kDevices + 1;
      OmbrixSimUnplug(device);
      ombrix::platform::SleepMillis(3);
      OmbrixSimReplug(device);
      ombrix::platform::SleepMillis(5);
    }
  });
  openClose.Join();
  sender.Join();
  configurer.Join();
  plugger.Join();

  EXPECT_GT(opens.load(), 0);
  EXPECT_EQ(CloseAllLinks(), 1);
  for (int device = 1; device <= kDevices; ++device) {
    OmbrixSimStreamInput(device, 0);
    EXPECT_EQ(OmbrixSimOpenHandles(device), 0);
  }
}

}  // namespace
