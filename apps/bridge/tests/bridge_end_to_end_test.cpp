// The bridge end to end over loopback UDP: what consoles send reaches the
// simulated wire, what the interfaces capture reaches receivers, and what
// is malformed is counted and goes nowhere.
#include <algorithm>
#include <cstring>

#include "bridge_fixture.h"
#include "universe_settings.h"

namespace ombrix_bridge_test {
namespace {

using namespace ombrix::protocols;
using ombrix_bridge::Direction;
using ombrix_bridge::Protocol;

Levels Pattern(uint8_t seed) {
  Levels levels{};
  for (size_t i = 0; i < levels.size(); ++i) levels[i] = static_cast<uint8_t>(seed + i * 7);
  return levels;
}

TEST_F(BridgeTest, SacnAndArtDmxReachTheWireOfTheirInterfaces) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:1"), Map(2, Direction::kOut, "artnet:0:1:2")};
  StartBridge(config);
  Peer console;
  Levels sacn = Pattern(3), artnet = Pattern(91);
  console.SendTo(sacnPort_, MakeSacnData(1, sacn, 1));
  console.SendTo(artnetPort_, MakeArtDmx(0x12, artnet, 1));
  for (int block : {0, 7, 15}) {
    EXPECT_TRUE(WaitForWire(1, block, sacn)) << "sACN block " << block;
    EXPECT_TRUE(WaitForWire(2, block, artnet)) << "Art-Net block " << block;
  }
  // Neither universe leaks onto the other interface.
  for (const auto& [block, data] : WireBlocks(2)) {
    EXPECT_NE(memcmp(data.data(), sacn.data() + 32 * block, 32), 0);
  }
}

TEST_F(BridgeTest, TwoSacnSourcesMergeHighestTakesPrecedence) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:5")};
  StartBridge(config);
  Peer a, b;
  Levels low{}, high{}, merged{};
  low[0] = 200;
  low[1] = 10;
  high[0] = 50;
  high[1] = 250;
  merged[0] = 200;
  merged[1] = 250;
  a.SendTo(sacnPort_, MakeSacnData(5, low, 1, false, 1));
  b.SendTo(sacnPort_, MakeSacnData(5, high, 1, false, 2));
  EXPECT_TRUE(WaitForWire(1, 0, merged));
}

TEST_F(BridgeTest, MalformedDatagramsAreCountedAndNeverReachTheWire) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:1"), Map(1, Direction::kIn, "artnet:0:0:9"),
                     Map(2, Direction::kOut, "artnet:0:0:1")};
  StartBridge(config);
  Peer console;
  Levels poison{};
  poison.fill(0xAB);
  std::vector<uint8_t> sacn = MakeSacnData(1, poison, 1);
  std::vector<uint8_t> artnet = MakeArtDmx(1, poison, 1);

  std::vector<uint8_t> truncated(sacn.begin(), sacn.begin() + 100);
  std::vector<uint8_t> oversized = sacn;
  oversized.resize(1500, 0xAB);
  std::vector<uint8_t> identifier = sacn;
  identifier[4] = 'X';
  std::vector<uint8_t> rootVector = sacn;
  rootVector[21] = 0x05;
  std::vector<uint8_t> universeZero = sacn;
  universeZero[113] = 0;
  universeZero[114] = 0;
  std::vector<uint8_t> shortLength = sacn;  // root flags-and-length one short
  shortLength[17] -= 1;
  for (const auto* datagram : {&truncated, &oversized, &identifier, &rootVector, &universeZero, &shortLength}) {
    console.SendTo(sacnPort_, *datagram);
  }
  std::vector<uint8_t> odd = artnet;  // length 512 in a datagram that holds 511
  odd.pop_back();
  std::vector<uint8_t> header = artnet;
  header[0] = 'a';
  std::vector<uint8_t> artTruncated(artnet.begin(), artnet.begin() + 12);
  for (const auto* datagram : {&odd, &header, &artTruncated}) console.SendTo(artnetPort_, *datagram);

  // A good packet after the bad ones: once it is on the wire, everything
  // sent before has been handled.
  Levels good{};
  for (size_t i = 0; i < good.size(); ++i) good[i] = static_cast<uint8_t>(i % 128);  // never 0xAB
  console.SendTo(sacnPort_, MakeSacnData(1, good, 2));
  console.SendTo(artnetPort_, MakeArtDmx(1, good, 2));
  ASSERT_TRUE(WaitForWire(1, 15, good));
  ASSERT_TRUE(WaitForWire(2, 15, good));
  for (int device : {1, 2}) {
    for (const auto& [block, data] : WireBlocks(device)) {
      for (uint8_t level : data) ASSERT_NE(level, 0xAB) << "device " << device << " block " << block;
    }
  }
  const DropCounters& sacnDrops = bridge_->ProtocolDrops(Protocol::kSacn);
  EXPECT_EQ(sacnDrops.Get(DropKind::kTruncated), 1u);
  EXPECT_EQ(sacnDrops.Get(DropKind::kOversized), 1u);
  EXPECT_EQ(sacnDrops.Get(DropKind::kBadIdentifier), 1u);
  EXPECT_EQ(sacnDrops.Get(DropKind::kBadVector), 1u);
  EXPECT_EQ(sacnDrops.Get(DropKind::kBadUniverse), 1u);
  EXPECT_EQ(sacnDrops.Get(DropKind::kBadLengthField), 1u);
  const DropCounters& artnetDrops = bridge_->ProtocolDrops(Protocol::kArtnet);
  EXPECT_EQ(artnetDrops.Get(DropKind::kBadIdentifier), 1u);
  EXPECT_EQ(artnetDrops.Get(DropKind::kTruncated), 2u);
}

TEST_F(BridgeTest, SendersOutsideTheAllowListAndUnmappedUniversesAreDropped) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:1")};
  config.allow = {"10.0.0.0/8"};
  StartBridge(config);
  Peer console;
  Levels levels = Pattern(5);
  console.SendTo(sacnPort_, MakeSacnData(1, levels, 1));
  console.SendTo(artnetPort_, MakeArtDmx(1, levels, 1));
  const DropCounters& sacnDrops = bridge_->ProtocolDrops(Protocol::kSacn);
  for (int i = 0; i < 600 && sacnDrops.Get(DropKind::kNotAllowed) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(sacnDrops.Get(DropKind::kNotAllowed), 1u);
  EXPECT_FALSE(WaitForWire(1, 0, levels, 200));
  StopBridge();

  config.allow = {"127.0.0.0/8"};
  StartBridge(config);
  console.SendTo(sacnPort_, MakeSacnData(2, levels, 1));  // nothing mapped to universe 2
  console.SendTo(sacnPort_, MakeSacnData(1, levels, 2));
  EXPECT_TRUE(WaitForWire(1, 0, levels));
  EXPECT_EQ(bridge_->ProtocolDrops(Protocol::kSacn).Get(DropKind::kNotConfigured), 1u);
}

TEST_F(BridgeTest, ArtPollIsAnsweredWithThePortsOfTheNode) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "artnet:1:2:3"), Map(2, Direction::kIn, "artnet:1:2:4")};
  StartBridge(config);
  Peer controller;
  controller.SendTo(artnetPort_, MakeArtPoll());
  std::vector<uint8_t> datagram = controller.Receive(3000);
  ASSERT_FALSE(datagram.empty());
  ArtnetPacket packet = ParseArtnet(datagram.data(), datagram.size());
  const ArtPollReply* reply = std::get_if<ArtPollReply>(&packet);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->port, artnetPort_);
  EXPECT_EQ(reply->ip, (std::array<uint8_t, 4>{127, 0, 0, 1}));
  EXPECT_EQ(reply->shortName, "ombrix bridge");
  EXPECT_EQ(reply->nodeReport.rfind("#0001 [0001] ", 0), 0u) << reply->nodeReport;
  EXPECT_EQ(reply->bindIndex, 1);
  EXPECT_EQ(reply->netSwitch, 1);
  EXPECT_EQ(reply->subSwitch, 2);
  ASSERT_EQ(reply->portCount, 2);
  EXPECT_EQ(reply->ports[0].portType & kArtPortOutput, kArtPortOutput);
  EXPECT_EQ(reply->ports[0].swOut, 3);
  EXPECT_EQ(reply->ports[1].portType & kArtPortInput, kArtPortInput);
  EXPECT_EQ(reply->ports[1].swIn, 4);
}

TEST_F(BridgeTest, InterfaceInputGoesOutAsSacnAndArtDmx) {
  BridgeConfig config;
  Peer receiver, controller;
  config.mappings = {Map(2, Direction::kIn, "sacn:7"), Map(2, Direction::kIn, "artnet:0:0:7")};
  config.sacnTargets = {"127.0.0.1:" + std::to_string(receiver.port())};
  config.artnetTargets = {"127.0.0.1:" + std::to_string(controller.port())};
  config.priority = 150;
  StartBridge(config);
  // The interface captures block 3 of a universe.
  uint8_t report[34] = {0, 0x03};
  for (int i = 0; i < 32; ++i) report[2 + i] = static_cast<uint8_t>(100 + i);
  SimApi().OmbrixSimInjectInput(2, report, sizeof(report));
  Levels levels{};
  bool found = false;
  for (int attempt = 0; attempt < 20 && !found; ++attempt) {
    bool terminated = true;
    uint8_t priority = 0;
    ASSERT_TRUE(ReceiveSacn(receiver, 7, &levels, &terminated, 3000, &priority));
    EXPECT_FALSE(terminated);
    EXPECT_EQ(priority, 150);
    found = levels[96] == 100 && levels[127] == 131;
  }
  EXPECT_TRUE(found) << "the captured block never went out as sACN";
  found = false;
  for (int attempt = 0; attempt < 20 && !found; ++attempt) {
    std::vector<uint8_t> datagram = controller.Receive(3000);
    ArtnetPacket packet = ParseArtnet(datagram.data(), datagram.size());
    if (std::holds_alternative<ArtPoll>(packet)) continue;  // a target is polled for subscriptions too
    const ArtDmx* dmx = std::get_if<ArtDmx>(&packet);
    ASSERT_NE(dmx, nullptr);
    EXPECT_EQ(dmx->portAddress, 7);
    found = dmx->length == 512 && dmx->data[96] == 100 && dmx->data[127] == 131;
  }
  EXPECT_TRUE(found) << "the captured block never went out as ArtDmx";
}

TEST_F(BridgeTest, PerSlotPrioritiesGoOutBeforeTheFirstLevelsAndThenAsKeepAlives) {
  BridgeConfig config;
  Peer receiver;
  config.mappings = {Map(2, Direction::kIn, "sacn:8")};
  config.sacnTargets = {"127.0.0.1:" + std::to_string(receiver.port())};
  std::string error;
  ASSERT_TRUE(ombrix_bridge::AddSlotPriorities("sacn:8=1-2:150, 3:0, 4-512:90", &config, &error)) << error;
  StartBridge(config);
  uint8_t report[34] = {0, 0x00, 7};
  SimApi().OmbrixSimInjectInput(2, report, sizeof(report));
  // Every packet of the stream in order: 0xDD first, then levels, in one
  // sequence; the next 0xDD only once the levels have been repeated, at the
  // keep-alive interval, not with every packet.
  std::vector<char> kinds;  // 'P' per-slot priorities, 'L' levels
  uint8_t sequence = 0;
  while (std::count(kinds.begin(), kinds.end(), 'P') < 2 && kinds.size() < 40) {
    std::vector<uint8_t> datagram = receiver.Receive(3000);
    SacnPacket packet = ParseSacn(datagram.data(), datagram.size());
    const SacnData* data = std::get_if<SacnData>(&packet);
    ASSERT_NE(data, nullptr) << "after " << kinds.size() << " packets";
    if (!kinds.empty()) EXPECT_EQ(data->sequence, static_cast<uint8_t>(sequence + 1));
    sequence = data->sequence;
    bool perSlot = data->startCode == kStartCodePerSlotPriority;
    kinds.push_back(perSlot ? 'P' : 'L');
    if (!perSlot) continue;
    ASSERT_EQ(data->slotCount, 512);
    EXPECT_EQ(data->slots[1], 150);
    EXPECT_EQ(data->slots[2], 0);
    EXPECT_EQ(data->slots[511], 90);
  }
  std::string order(kinds.begin(), kinds.end());
  ASSERT_EQ(order.substr(0, 2), "PL") << order;
  size_t second = order.find('P', 1);
  ASSERT_NE(second, std::string::npos) << order;
  EXPECT_GE(second, 3u) << "the priorities came again before the levels were repeated: " << order;
}

TEST_F(BridgeTest, WithLoopbackAUniverseComesBackOnAnother) {
  if (SimLoopback() == nullptr) GTEST_SKIP() << "the simulator library has no loopback yet";
  ASSERT_EQ(SimLoopback()(1, 1), 1);
  ASSERT_EQ(SimLoopback()(2, 1), 1);
  BridgeConfig config;
  Peer console, receiver, controller;
  config.mappings = {Map(1, Direction::kOut, "sacn:1"), Map(1, Direction::kIn, "sacn:2"),
                     Map(2, Direction::kOut, "artnet:0:0:1"), Map(2, Direction::kIn, "artnet:0:0:2")};
  config.sacnTargets = {"127.0.0.1:" + std::to_string(receiver.port())};
  config.artnetTargets = {"127.0.0.1:" + std::to_string(controller.port())};
  StartBridge(config);
  Levels art = Pattern(55);
  console.SendTo(artnetPort_, MakeArtDmx(1, art, 1));
  bool artSame = false;
  for (int attempt = 0; attempt < 50 && !artSame; ++attempt) {
    std::vector<uint8_t> datagram = controller.Receive(3000);
    ArtnetPacket packet = ParseArtnet(datagram.data(), datagram.size());
    if (std::holds_alternative<ArtPoll>(packet)) continue;  // a target is polled for subscriptions too
    const ArtDmx* dmx = std::get_if<ArtDmx>(&packet);
    ASSERT_NE(dmx, nullptr);
    EXPECT_EQ(dmx->portAddress, 2);
    artSame = dmx->length == 512 && memcmp(dmx->data, art.data(), 512) == 0;
  }
  EXPECT_TRUE(artSame) << "ArtDmx 0:0:1 did not come back whole on 0:0:2";
  Levels sent = Pattern(17), received{};
  console.SendTo(sacnPort_, MakeSacnData(1, sent, 1));
  bool same = false;
  for (int attempt = 0; attempt < 50 && !same; ++attempt) {
    ASSERT_TRUE(ReceiveSacn(receiver, 2, &received, nullptr));
    same = received == sent;
  }
  EXPECT_TRUE(same) << "universe 1 did not come back whole on universe 2";
}

TEST_F(BridgeTest, StopTerminatesStreamsAndLeavesInterfacesInModeZero) {
  BridgeConfig config;
  Peer receiver;
  config.mappings = {Map(1, Direction::kOut, "sacn:1"), Map(2, Direction::kIn, "sacn:3")};
  config.sacnTargets = {"127.0.0.1:" + std::to_string(receiver.port())};
  StartBridge(config);
  Levels levels{};
  ASSERT_TRUE(ReceiveSacn(receiver, 3, &levels, nullptr));
  // SetInterfaceMode returns once the I/O thread has taken the mode up,
  // just before it writes the report: the report itself is waited for.
  for (int i = 0; i < 300 && LastMode(1) != 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(LastMode(1), 2);
  // SIGTERM, as systemd stops the service.
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  thread_.join();
  int terminations = 0;
  for (int i = 0; i < 100 && terminations < 3; ++i) {
    bool terminated = false;
    if (!ReceiveSacn(receiver, 3, &levels, &terminated, 500)) break;
    terminations += terminated ? 1 : 0;
  }
  EXPECT_EQ(terminations, 3);
  EXPECT_EQ(LastMode(1), 0);
  EXPECT_EQ(LastMode(2), 0);
  EXPECT_EQ(::OmbrixSimOpenHandles(1), 0);
  bridge_.reset();
}

}  // namespace
}  // namespace ombrix_bridge_test
