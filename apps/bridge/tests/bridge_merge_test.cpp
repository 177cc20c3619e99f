// A universe's own merge and fail-safe settings, end to end over loopback:
// a backup desk that shows only while the main desk is gone, and the
// fail-safe looks that take over when every source has left.
#include "bridge_fixture.h"
#include "protocols/sacn_packet.h"

namespace ombrix_bridge_test {
namespace {

using namespace ombrix::protocols;
using ombrix_bridge::Direction;
using ombrix_bridge::LossPolicy;
using ombrix_bridge::UniverseSettings;

Levels Full(uint8_t level) {
  Levels levels;
  levels.fill(level);
  return levels;
}

// A desk on its own socket with its own CID and sequence.
struct Desk {
  Desk(uint8_t cidByte, const char* name, uint16_t universe) {
    packet.cid.fill(cidByte);
    packet.sourceName = name;
    packet.universe = universe;
  }
  void Send(uint16_t port, const Levels& levels, bool terminated = false) {
    packet.streamTerminated = terminated;
    peer.SendTo(port, EncodeSacn(packet, levels));
    ++packet.sequence;
  }
  Peer peer;
  SacnData packet;
};

TEST_F(BridgeTest, TheBackupDeskShowsOnlyWhileTheMainDeskIsGone) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:4")};
  UniverseSettings settings;
  settings.universe = {ombrix_bridge::Protocol::kSacn, 4};
  settings.merge = MergeRules{MergeMode::kBackup, {"Main desk"}, {"Backup desk"}, std::chrono::milliseconds(0)};
  settings.loss = LossPolicy::kZero;  // a moment without a desk would show as zeros
  config.universes = {settings};
  StartBridge(config);
  // The backup's look is brighter: HTP would show it; backup mode must not.
  Desk main(1, "Main desk", 4), backup(2, "Backup desk", 4);
  Levels mainLook = Full(40), backupLook = Full(250);
  bool mainShown = false;
  for (int round = 0; round < 50 && !mainShown; ++round) {
    main.Send(sacnPort_, mainLook);
    backup.Send(sacnPort_, backupLook);
    mainShown = WaitForWire(1, 15, mainLook, 60);
  }
  ASSERT_TRUE(mainShown);
  main.Send(sacnPort_, mainLook, true);  // the main desk ends its stream
  bool backupShown = false;
  for (int round = 0; round < 50 && !backupShown; ++round) {
    backup.Send(sacnPort_, backupLook);
    backupShown = WaitForWire(1, 15, backupLook, 60);
  }
  ASSERT_TRUE(backupShown);
  bool started = false;
  for (const auto& [block, data] : WireBlocks(1)) {
    started = started || data[0] == 40;
    if (started) ASSERT_TRUE(data[0] == 40 || data[0] == 250) << "neither desk's look reached block " << block;
  }
  main.packet.sequence = 0;  // a restarted desk counts from the start
  mainLook = Full(41);       // a look of its own, told apart from the one before
  mainShown = false;
  for (int round = 0; round < 50 && !mainShown; ++round) {
    main.Send(sacnPort_, mainLook);
    backup.Send(sacnPort_, backupLook);
    mainShown = WaitForWire(1, 15, mainLook, 60);
  }
  EXPECT_TRUE(mainShown) << "the main desk takes over again";
}

TEST_F(BridgeTest, EachUniverseShowsItsOwnFailSafeWhenEverySourceHasGone) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:5"), Map(2, Direction::kOut, "sacn:6")};
  config.loss = LossPolicy::kFull;
  UniverseSettings zero;
  zero.universe = {ombrix_bridge::Protocol::kSacn, 6};
  zero.loss = LossPolicy::kZero;
  config.universes = {zero};
  StartBridge(config);
  Desk five(1, "desk", 5), six(1, "desk", 6);
  Levels look = Full(100);
  bool shown = false;
  for (int round = 0; round < 50 && !shown; ++round) {
    five.Send(sacnPort_, look);
    six.Send(sacnPort_, look);
    shown = WaitForWire(1, 15, look, 60) && WaitForWire(2, 15, look, 60);
  }
  ASSERT_TRUE(shown);
  five.Send(sacnPort_, look, true);
  six.Send(sacnPort_, look, true);
  EXPECT_TRUE(WaitForWire(1, 15, Full(255))) << "the bridge's loss = full";
  EXPECT_TRUE(WaitForWire(2, 15, Full(0))) << "sacn:6's own loss = zero";
}

}  // namespace
}  // namespace ombrix_bridge_test
