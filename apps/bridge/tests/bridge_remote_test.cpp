// A console changing the node by ArtAddress, over loopback: only when
// --manage names it; the re-patch, name and fail-safe answered in the poll
// reply, taken by the output at once, and still there after a restart from
// the state file.
#include <unistd.h>

#include "bridge_fixture.h"
#include "node_state.h"
#include "protocols/artnet_packet.h"

namespace ombrix_bridge_test {
namespace {

using namespace ombrix::protocols;
using ombrix_bridge::Direction;

std::vector<uint8_t> Address(const ArtAddress& packet) {
  std::vector<uint8_t> out(kArtAddressSize);
  out.resize(BuildArtAddress(packet, out.data(), out.size()));
  return out;
}

// The first poll reply that arrives at console within 3 s.
bool NextReply(Peer& console, ArtPollReply* reply) {
  for (int i = 0; i < 10; ++i) {
    std::vector<uint8_t> datagram = console.Receive(3000);
    if (datagram.empty()) return false;
    ArtnetPacket packet = ParseArtnet(datagram.data(), datagram.size());
    if (const ArtPollReply* parsed = std::get_if<ArtPollReply>(&packet)) {
      *reply = *parsed;
      return true;
    }
  }
  return false;
}

bool Poll(Peer& console, uint16_t port, ArtPollReply* reply) {
  std::vector<uint8_t> poll(kArtPollFullSize);
  poll.resize(BuildArtPoll(ArtPoll{}, poll.data(), poll.size()));
  console.SendTo(port, poll);
  return NextReply(console, reply);
}

// A folder of its own for a test's state file, removed with it.
class StateFolder {
 public:
  StateFolder() { EXPECT_NE(mkdtemp(folder_), nullptr); }
  ~StateFolder() {
    remove(file().c_str());
    rmdir(folder_);
  }
  std::string file() const { return std::string(folder_) + "/bridge.state"; }

 private:
  char folder_[32] = "/tmp/ombrix-state-XXXXXX";
};

class RemoteTest : public BridgeTest {
 protected:
  // Sends ArtDmx of look to portAddress until device 1 shows it.
  bool SendUntilShown(Peer& console, uint16_t portAddress, const Levels& look) {
    for (uint8_t sequence = 1; sequence < 40; ++sequence) {
      console.SendTo(artnetPort_, MakeArtDmx(portAddress, look, sequence));
      if (WaitForWire(1, 15, look, 100)) return true;
    }
    return false;
  }
};

TEST_F(RemoteTest, AManagingConsoleRepatchesAndRenamesAndTheStateFileKeepsItAcrossARestart) {
  StateFolder folder;
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "artnet:0:0:1")};
  config.stateFile = folder.file();
  ArtAddress repatch;
  repatch.subSwitch = kArtSwitchProgram | 1;
  repatch.swOut[0] = kArtSwitchProgram | 3;
  repatch.shortName = "Truss L";
  repatch.command = static_cast<uint8_t>(ArtAddressCommand::kFailFull);
  Peer console;
  ArtPollReply reply;

  // Nobody may manage the node by default: the request changes nothing.
  StartBridge(config);
  console.SendTo(artnetPort_, Address(repatch));
  ASSERT_TRUE(Poll(console, artnetPort_, &reply));
  EXPECT_EQ(reply.ports[0].swOut, 1);
  EXPECT_EQ(reply.shortName, "ombrix bridge");
  EXPECT_EQ(reply.status3 & 0x20, 0) << "the fail-safe cannot be set remotely";
  StopBridge();

  config.manage = {"127.0.0.0/8"};
  StartBridge(config);
  console.SendTo(artnetPort_, Address(repatch));
  ASSERT_TRUE(NextReply(console, &reply)) << "ArtAddress is answered with the node's replies";
  EXPECT_EQ(reply.shortName, "Truss L");
  EXPECT_EQ(reply.subSwitch, 1);
  EXPECT_EQ(reply.ports[0].swOut, 3);
  EXPECT_EQ(reply.status3 & 0xE0, kArtStatus3FailsafeFull | kArtStatus3FailsafeProgrammable);
  Levels look;
  look.fill(77);
  EXPECT_TRUE(SendUntilShown(console, 0x0013, look)) << "the output takes its new port-address at once";

  // A restart (a power cut, as far as the node can tell): the state file
  // puts the node back as the console left it.
  StopBridge();
  StartBridge(config);
  ASSERT_TRUE(Poll(console, artnetPort_, &reply));
  EXPECT_EQ(reply.shortName, "Truss L");
  EXPECT_EQ(ArtnetPortAddress(reply.netSwitch, reply.subSwitch, reply.ports[0].swOut), 0x0013);
  EXPECT_EQ(reply.status3 & 0xC0, kArtStatus3FailsafeFull);

  // Back to the configured patch: 0 resets a switch.
  ArtAddress reset;
  reset.subSwitch = kArtSwitchReset;
  reset.swOut[0] = kArtSwitchReset;
  console.SendTo(artnetPort_, Address(reset));
  ASSERT_TRUE(NextReply(console, &reply));
  EXPECT_EQ(ArtnetPortAddress(reply.netSwitch, reply.subSwitch, reply.ports[0].swOut), 0x0001);
  StopBridge();
}

TEST_F(RemoteTest, ConsoleCommandsIdentifyRecordAFailSafeSceneAndClearTheOutput) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "artnet:0:0:1")};
  config.manage = {"127.0.0.1"};
  StartBridge(config);
  Peer console;
  Levels look;
  look.fill(90);
  ASSERT_TRUE(SendUntilShown(console, 0x0001, look));
  ArtPollReply reply;
  for (ArtAddressCommand command : {ArtAddressCommand::kLedLocate, ArtAddressCommand::kFailRecord,
                                    ArtAddressCommand::kFailScene, ArtAddressCommand::kClearOp0}) {
    ArtAddress packet;
    packet.command = static_cast<uint8_t>(command);
    console.SendTo(artnetPort_, Address(packet));
    ASSERT_TRUE(NextReply(console, &reply));
  }
  EXPECT_EQ(reply.status1 & 0xC0, 0x40) << "identify: the indicators locate";
  EXPECT_EQ(reply.status3 & 0xC0, kArtStatus3FailsafeScene);
  ASSERT_TRUE(WaitForWire(1, 15, Levels{})) << "clear output: zeros at once";
  // Every source gone (Art-Net's 10 s time-out): the recorded scene, the
  // look from before the clear, written again after the zeros.
  size_t cleared = WireBlocks(1).size();
  bool scene = false;
  for (int wait = 0; wait < 300 && !scene; ++wait) {
    std::vector<std::pair<int, std::array<uint8_t, 32>>> blocks = WireBlocks(1);
    for (size_t i = cleared; i < blocks.size(); ++i)
      scene = scene || (blocks[i].first == 15 && blocks[i].second[0] == 90);
    if (!scene) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(scene) << "the recorded scene never showed once the source had gone";
}

TEST_F(RemoteTest, RecordSceneKeepsEachDrivenOutputsLookInTheStateFile) {
  StateFolder folder;
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:9")};
  config.stateFile = folder.file();
  config.recordScene = true;
  testing::internal::CaptureStderr();
  StartBridge(config);
  Peer desk;
  Levels look;
  for (size_t i = 0; i < look.size(); ++i) look[i] = static_cast<uint8_t>(i);
  bool recorded = false;
  for (uint8_t sequence = 0; sequence < 50 && !recorded; ++sequence) {
    desk.SendTo(sacnPort_, MakeSacnData(9, look, sequence));
    recorded = WaitForCapturedLog({"record scene: the looks of 1 universe(s)"}, 100);
  }
  StopBridge();
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(recorded);
  ombrix_bridge::NodeState state;
  std::string error;
  ASSERT_TRUE(ombrix_bridge::LoadNodeState(config.stateFile, &state, &error)) << error;
  ASSERT_EQ(state.outputs.size(), 1u);
  ASSERT_TRUE(state.outputs[0].scene.has_value());
  EXPECT_EQ(*state.outputs[0].scene, look);
}

}  // namespace
}  // namespace ombrix_bridge_test
