// What the bridge does when things go away: an interface unplugged and
// plugged back in, an interface absent at start, and every source of a
// universe leaving (hold the look, or fade it out).
#include <cstring>

#include "bridge_fixture.h"

namespace ombrix_bridge_test {
namespace {

using ombrix_bridge::Direction;

Levels Full(uint8_t level) {
  Levels levels;
  levels.fill(level);
  return levels;
}

TEST_F(BridgeTest, AnUnpluggedInterfaceIsReopenedWithItsModeAndLevels) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:1")};
  StartBridge(config);
  Peer console;
  Levels levels = Full(42);
  console.SendTo(sacnPort_, MakeSacnData(1, levels, 1));
  ASSERT_TRUE(WaitForWire(1, 15, levels));

  const ombrix_tool::Api& api = SimApi();
  ::OmbrixSimUnplug(1);
  // The failed link is closed and the interface looked for.
  for (int i = 0; i < 300 && ::OmbrixSimOpenHandles(1) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(::OmbrixSimOpenHandles(1), 0);
  api.OmbrixSimClearWrites(1);
  ::OmbrixSimReplug(1);
  // Back within the once-a-second look: mode 2, then the held look, without
  // the console sending again.
  EXPECT_TRUE(WaitForWire(1, 0, levels, 4000));
  EXPECT_TRUE(WaitForWire(1, 15, levels, 1000));
  EXPECT_EQ(LastMode(1), 2);
}

TEST_F(BridgeTest, AnInterfaceFailingWhileItsInputStreamsResumesItsInput) {
  BridgeConfig config;
  Peer receiver;
  config.mappings = {Map(2, Direction::kIn, "sacn:9")};
  config.sacnTargets = {"127.0.0.1:" + std::to_string(receiver.port())};
  StartBridge(config);
  // A block a millisecond: the bridge is gathering wake-ups when the
  // interface goes, and the library's one report of it may come while the
  // bridge is busy, so the bridge must notice by itself as well.
  ASSERT_EQ(SimApi().OmbrixSimStreamInput(2, 1000), 1);
  Levels levels{};
  ASSERT_TRUE(ReceiveSacn(receiver, 9, &levels, nullptr));
  ::OmbrixSimUnplug(2);
  for (int i = 0; i < 300 && ::OmbrixSimOpenHandles(2) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(::OmbrixSimOpenHandles(2), 0) << "the failed link was not closed";
  // Receivers are told at once that the source has gone.
  int terminations = 0;
  for (int i = 0; i < 200 && terminations < 3; ++i) {
    bool terminated = false;
    if (!ReceiveSacn(receiver, 9, &levels, &terminated, 500)) break;
    terminations += terminated ? 1 : 0;
  }
  EXPECT_EQ(terminations, 3);
  while (!receiver.Receive(300).empty()) {
  }
  ::OmbrixSimReplug(2);
  ASSERT_EQ(SimApi().OmbrixSimStreamInput(2, 1000), 1);
  EXPECT_TRUE(ReceiveSacn(receiver, 9, &levels, nullptr, 4000)) << "input did not resume";
  SimApi().OmbrixSimStreamInput(2, 0);
}

TEST_F(BridgeTest, AnInterfaceAbsentAtStartIsOpenedWhenItAppears) {
  ::OmbrixSimUnplug(2);
  BridgeConfig config;
  config.mappings = {Map(2, Direction::kOut, "artnet:0:0:0")};
  StartBridge(config);
  Peer console;
  Levels levels = Full(9);
  console.SendTo(artnetPort_, MakeArtDmx(0, levels, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(::OmbrixSimOpenHandles(2), 0);
  ::OmbrixSimReplug(2);
  EXPECT_TRUE(WaitForWire(2, 0, levels, 4000));
}

TEST_F(BridgeTest, StatusLinesSayWhatIsPresentAndWhatWasDropped) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:1"), Map(2, Direction::kOut, "artnet:0:0:3")};
  ombrix_bridge::BridgeTiming timing;
  timing.status = std::chrono::milliseconds(300);
  ::OmbrixSimUnplug(2);
  testing::internal::CaptureStderr();
  StartBridge(config, timing);
  Peer console;
  Levels levels = Full(1);
  console.SendTo(sacnPort_, MakeSacnData(1, levels, 1));
  console.SendTo(sacnPort_, MakeSacnData(1, levels, 1));  // the same sequence again
  std::vector<uint8_t> truncated = MakeSacnData(1, levels, 2);
  truncated.resize(50);
  console.SendTo(sacnPort_, truncated);
  const std::vector<std::string> lines = {
      "SIM0000000000002 not attached; looking for it once a second",
      "sacn:1: source \"test console\" (127.0.0.1) joined",
      "status: [in sacn:1 1 sources",
      "sacn:1: driven by the network",
      "drops out-of-sequence=1]",
      "[in artnet:0:0:3 0 sources 0.0 pkt/s]",
      "[SIM0000000000001 connected] [SIM0000000000002 looking] [sacn drops truncated=1]"};
  // The first status line after the three datagrams were handled: waited
  // for, as a loaded machine may handle them after the first few lines.
  WaitForCapturedLog(lines);
  StopBridge();
  std::string log = testing::internal::GetCapturedStderr();
  for (const std::string& line : lines) EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

TEST_F(BridgeTest, LossOfEverySourceHoldsTheLookByDefault) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:1")};
  StartBridge(config);
  Peer console;
  Levels levels = Full(77);
  console.SendTo(sacnPort_, MakeSacnData(1, levels, 1));
  ASSERT_TRUE(WaitForWire(1, 15, levels));
  testing::internal::CaptureStderr();
  console.SendTo(sacnPort_, MakeSacnData(1, levels, 2, true));
  WaitForCapturedLog({"sacn:1: every source gone"});
  // Time for a wrong fade to show on the wire.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("sacn:1: every source gone; holding the last look"), std::string::npos) << log;
  std::vector<std::pair<int, std::array<uint8_t, 32>>> blocks = WireBlocks(1);
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(blocks.back().second[0], 77) << "the look was not held";
}

TEST_F(BridgeTest, LossOfEverySourceFadesToZeroWhenAskedTo) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:1")};
  config.loss = ombrix_bridge::LossPolicy::kFade;
  config.fadeSeconds = 0.3;
  StartBridge(config);
  Peer console;
  Levels levels = Full(200);
  console.SendTo(sacnPort_, MakeSacnData(1, levels, 1));
  ASSERT_TRUE(WaitForWire(1, 15, levels));
  console.SendTo(sacnPort_, MakeSacnData(1, levels, 2, true));
  EXPECT_TRUE(WaitForWire(1, 0, Full(0), 3000));
  EXPECT_TRUE(WaitForWire(1, 15, Full(0), 1000));
  // On the way down there were levels between full and zero.
  bool between = false;
  for (const auto& [block, data] : WireBlocks(1)) between = between || (data[0] > 0 && data[0] < 200);
  EXPECT_TRUE(between);
}

}  // namespace
}  // namespace ombrix_bridge_test
