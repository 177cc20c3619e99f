// The simulator's loopback cable: DMX blocks the device takes in come back
// on its input, as a cable from the interface's output to its input would
// carry them; nothing else comes back.
#include <cstring>

#include "sim_fixture.h"

using namespace ombrix_test;

namespace {

class LoopbackTest : public SimTest {};

bool HasWrite(int32_t device, uint8_t type) {
  for (const Bytes& write : Writes(device)) {
    if (write[1] == type) return true;
  }
  return false;
}

bool InputEquals(const uint8_t* input, const uint8_t* expected) {
  for (int channel = 0; channel < 512; ++channel) {
    if (LoadChannel(input, channel) != expected[channel]) return false;
  }
  return true;
}

TEST_F(LoopbackTest, FrameBlocksOfQueuedUniversesComeBackAsInputBlocks) {
  int32_t device = AddFamilyDevice(0x0833, 0x0100, "LOOPBACK00000001");
  Serial serial = SerialOf("LOOPBACK00000001");
  static uint8_t input[512];
  ASSERT_EQ(OmbrixSimSetLoopback(device, 1), 1);
  ASSERT_EQ(OpenLink(serial.data(), nullptr, input), 1);

  // Mode and configuration commands are reports of their own kinds: they do
  // not come back (else the configuration's parameters would land in block 1).
  ASSERT_EQ(SetInterfaceMode(serial.data(), 2), 1);
  ASSERT_TRUE(WaitUntil([&] { return HasWrite(device, 0x2F); })) << "mode 2 sends every block once";
  ASSERT_EQ(SetInterfaceAdvTxConfig(serial.data(), 5, 6, 7, 8, 9, 512, 0), 1);
  ASSERT_TRUE(WaitUntil([&] { return HasWrite(device, 0x11); }));
  ombrix::platform::SleepMillis(20);
  EXPECT_EQ(LoadChannel(input, 32), 0);
  EXPECT_EQ(LoadChannel(input, 33), 0);

  uint8_t universe[512];
  for (int channel = 0; channel < 512; ++channel) universe[channel] = static_cast<uint8_t>(channel * 3 + 1);
  ASSERT_EQ(SendDmxUniverse(serial.data(), universe), 1);
  EXPECT_TRUE(WaitUntil([&] { return InputEquals(input, universe); }))
      << "this product sends the frame variant 0x20-0x2F, which comes back as 0x00-0x0F";
  ASSERT_EQ(CloseLink(serial.data()), 1);
}

TEST_F(LoopbackTest, PolledOutputFollowsOnTheInputWhileEnabled) {
  int32_t device = AddFamilyDevice(0x0830, 0x0106, "LOOPBACK00000002");
  Serial serial = SerialOf("LOOPBACK00000002");
  static uint8_t output[512], input[512];
  std::memset(output, 0, sizeof output);
  ASSERT_EQ(OpenLink(serial.data(), output, input), 1);
  ASSERT_EQ(OmbrixSimSetLoopback(device, 1), 1);
  ASSERT_EQ(SetInterfaceMode(serial.data(), 2), 1);
  StoreChannel(output, 0, 11);
  StoreChannel(output, 300, 22);
  StoreChannel(output, 511, 33);
  EXPECT_TRUE(WaitUntil(
      [&] { return LoadChannel(input, 0) == 11 && LoadChannel(input, 300) == 22 && LoadChannel(input, 511) == 33; }));
  for (const Bytes& write : Writes(device)) {
    if (write[1] < 0x10) {
      EXPECT_EQ(write.size(), 34u);
    }
  }

  // Cable pulled: the output goes on, the input stays where it was.
  ASSERT_EQ(OmbrixSimSetLoopback(device, 0), 1);
  uint32_t before = OmbrixSimWriteCount(device);
  StoreChannel(output, 300, 99);
  ASSERT_TRUE(WaitUntil([&] { return OmbrixSimWriteCount(device) > before; }));
  ombrix::platform::SleepMillis(20);
  EXPECT_EQ(LoadChannel(input, 300), 22);
  ASSERT_EQ(CloseLink(serial.data()), 1);

  EXPECT_EQ(OmbrixSimSetLoopback(device + 1, 1), 0) << "unknown device";
}

}  // namespace
