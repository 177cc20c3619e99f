// What the protocols' standards ask of a node, end to end over loopback:
// the sampling period before a universe's first merge, poll replies that
// say what the node does and come again when it changes, discovery that
// announces live streams only, and the keep-alive cadence of sent input.
#include <cstring>

#include "bridge_fixture.h"
#include "artnet_node.h"
#include "input_stream.h"
#include "sacn_receiver.h"
#include "protocols/sacn_packet.h"

namespace ombrix_bridge_test {
namespace {

using namespace ombrix::protocols;
using ombrix::protocols::TimePoint;
using ombrix_bridge::Direction;

Levels Full(uint8_t level) {
  Levels levels;
  levels.fill(level);
  return levels;
}

TEST_F(BridgeTest, ABackupDeskHeardFirstNeverReachesTheWireDuringSampling) {
  samplingPeriod_ = std::chrono::milliseconds(1500);
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:3")};
  StartBridge(config);
  Peer backup, main;
  Levels backupLook = Full(11), mainLook = Full(222);
  SacnData backupPacket, mainPacket;
  backupPacket.cid.fill(7);
  backupPacket.sourceName = "backup desk";
  backupPacket.priority = 50;
  backupPacket.universe = 3;
  mainPacket.cid.fill(8);
  mainPacket.sourceName = "main desk";
  mainPacket.universe = 3;
  // Both desks at keep-alive pace, the backup always a moment first.
  bool onWire = false;
  for (int round = 0; round < 80 && !onWire; ++round) {
    backupPacket.sequence = mainPacket.sequence = static_cast<uint8_t>(round);
    backup.SendTo(sacnPort_, EncodeSacn(backupPacket, backupLook));
    main.SendTo(sacnPort_, EncodeSacn(mainPacket, mainLook));
    onWire = WaitForWire(1, 15, mainLook, 100);
  }
  ASSERT_TRUE(onWire);
  for (const auto& [block, data] : WireBlocks(1)) {
    EXPECT_NE(data[0], 11) << "the backup's look reached block " << block;
  }
}

// The same on the receiver's own clock, a millisecond at a time: the main
// desk comes 20 ms after the backup, so the backup's wait for per-slot
// priorities ends first; sampling stays open until the main desk's ends.
TEST(SacnSampling, LastsUntilTheDesksHeardInItHaveWaitedForTheirPriorities) {
  asio::io_context io;
  ombrix_bridge::UdpSocket socket(io, [](const uint8_t*, size_t, const ombrix_bridge::Endpoint&) {});
  ombrix_bridge::AllowList allow;
  std::string error;
  ASSERT_TRUE(allow.Parse({}, &error));
  ombrix_bridge::SacnReceiver receiver(&socket, &allow, false, [](const std::string&) {});
  ombrix_bridge::OutputUniverse output({ombrix_bridge::Protocol::kSacn, 3}, ombrix_bridge::LossPolicy::kHold, 0);
  receiver.AddUniverse(&output, MergeRules{});
  TimePoint start(std::chrono::hours(1));
  auto at = [start](int millis) { return start + std::chrono::milliseconds(millis); };
  output.StartSampling(at(1500));
  SacnData backup, main;
  backup.cid.fill(7);
  backup.priority = 50;
  main.cid.fill(8);
  backup.universe = main.universe = 3;
  ombrix_bridge::Endpoint from(asio::ip::make_address("127.0.0.1"), 5568);
  for (int millis = 0; millis <= 1600; ++millis) {
    // The timer comes before the packets of some milliseconds and after
    // them in others: at 1520 ms, after, so the packets find the main
    // desk's wait ended before the timer has said so.
    if (millis % 40 == 20) receiver.Tick(at(millis));
    if (millis % 20 == 0) {
      std::vector<uint8_t> datagram = EncodeSacn(backup, Full(11));
      receiver.OnDatagram(datagram.data(), datagram.size(), from, at(millis));
      ASSERT_NE(output.shown()[0], 11) << "the backup's look was shown at " << millis << " ms";
    }
    if (millis % 20 == 0 && millis > 0) {
      std::vector<uint8_t> datagram = EncodeSacn(main, Full(222));
      receiver.OnDatagram(datagram.data(), datagram.size(), from, at(millis));
    }
    if (millis % 40 != 20) receiver.Tick(at(millis));
    ASSERT_NE(output.shown()[0], 11) << "the backup's look was shown at " << millis << " ms";
  }
  EXPECT_EQ(output.shown()[0], 222);
}

// Sends an ArtPoll with the given flags from controller; returns the
// first reply that arrives, parsed.
bool PollReply(Peer& controller, uint16_t artnetPort, uint8_t flags, ArtPollReply* reply, int timeoutMillis = 3000) {
  if (flags != 0xFF) {
    ArtPoll poll;
    poll.flags = flags;
    std::vector<uint8_t> out(kArtPollFullSize);
    out.resize(BuildArtPoll(poll, out.data(), out.size()));
    controller.SendTo(artnetPort, out);
  }
  std::vector<uint8_t> datagram = controller.Receive(timeoutMillis);
  ArtnetPacket packet = ParseArtnet(datagram.data(), datagram.size());
  const ArtPollReply* parsed = std::get_if<ArtPollReply>(&packet);
  if (parsed == nullptr) return false;
  *reply = *parsed;
  return true;
}

TEST_F(BridgeTest, PollRepliesSayWhatTheNodeDoesAndComeAgainOnChangeWhenAsked) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "artnet:0:0:1")};
  config.loss = ombrix_bridge::LossPolicy::kFade;
  StartBridge(config);
  Peer controller;
  ArtPollReply reply;
  ASSERT_TRUE(PollReply(controller, artnetPort_, kArtPollFlagReplyOnChange, &reply));
  EXPECT_EQ(reply.status3 & 0xC0, kArtStatus3FailsafeZero) << "--loss fade: outputs go to zero";
  ASSERT_EQ(reply.portCount, 1);
  EXPECT_EQ(reply.ports[0].goodOutputB, kArtGoodOutputBRdmDisabled | kArtGoodOutputBContinuous);
  EXPECT_EQ(reply.ports[0].goodOutputA & kArtGoodOutputDataTransmitted, kArtGoodOutputDataTransmitted);

  // The interface goes: the controller hears of it without polling again.
  ::OmbrixSimUnplug(1);
  bool told = false;
  for (int i = 0; i < 20 && !told; ++i) {
    if (!PollReply(controller, artnetPort_, 0xFF, &reply, 500)) continue;
    told = (reply.ports[0].goodOutputA & kArtGoodOutputDataTransmitted) == 0;
  }
  EXPECT_TRUE(told) << "no reply on change said the output stopped";
}

TEST_F(BridgeTest, DiscoveryAnnouncesOnlyStreamsThatAreLive) {
  BridgeConfig config;
  Peer receiver;
  config.mappings = {Map(1, Direction::kIn, "sacn:9"), Map(2, Direction::kIn, "sacn:10")};
  config.sacnTargets = {"127.0.0.1:" + std::to_string(receiver.port())};
  ombrix_bridge::BridgeTiming timing;
  timing.discovery = std::chrono::milliseconds(100);
  StartBridge(config, timing);
  // Waits for the next discovery page and returns the universes it lists.
  auto nextDiscovery = [&](std::vector<uint16_t>* universes) {
    for (int i = 0; i < 400; ++i) {
      std::vector<uint8_t> datagram = receiver.Receive(50);
      SacnPacket packet = ParseSacn(datagram.data(), datagram.size());
      if (const SacnDiscovery* page = std::get_if<SacnDiscovery>(&packet)) {
        *universes = page->universes;
        return true;
      }
    }
    return false;
  };
  std::vector<uint16_t> listed;
  bool nine = false;
  for (int i = 0; i < 40 && !nine; ++i) {
    ASSERT_TRUE(nextDiscovery(&listed));
    nine = listed == std::vector<uint16_t>{9};
  }
  ASSERT_TRUE(nine) << "the live stream of sacn:9 was never announced";
  ::OmbrixSimUnplug(1);
  // Pages go out in universe order within one round: once sacn:10's page
  // has come after the interface went, sacn:9 would have come just before.
  Levels levels{};
  bool terminated = false;
  for (int i = 0; i < 200 && !terminated; ++i) ASSERT_TRUE(ReceiveSacn(receiver, 9, &levels, &terminated));
  ASSERT_TRUE(terminated);
  bool tenSeen = false;
  for (int i = 0; i < 40 && !tenSeen; ++i) {
    ASSERT_TRUE(nextDiscovery(&listed));
    EXPECT_NE(listed, std::vector<uint16_t>{9}) << "a terminated stream was announced";
    tenSeen = listed == std::vector<uint16_t>{10};
  }
  EXPECT_TRUE(tenSeen);
}

// 200 forged pollers: the node keeps 64, the oldest going first, and says
// so in one log line a minute rather than one per address.
TEST(ArtnetPollers, AtMost64KeptOldestDroppedOneLogLineAMinute) {
  asio::io_context io;
  ombrix_bridge::UdpSocket socket(io, [](const uint8_t*, size_t, const ombrix_bridge::Endpoint&) {});
  std::string error;
  ASSERT_TRUE(socket.Open(asio::ip::make_address("127.0.0.1"), 0, &error)) << error;
  ombrix_bridge::AllowList allow;
  ASSERT_TRUE(allow.Parse({}, &error));
  std::vector<std::string> lines;
  // Replies go to the pollers' port on forged loopback addresses: a port
  // nobody listens on.
  ombrix_bridge::ArtnetNode node(&socket, &allow, {}, FreeUdpPort(), asio::ip::make_address("127.0.0.1"),
                                 [&lines](const std::string& line) { lines.push_back(line); });
  std::vector<uint8_t> poll = MakeArtPoll();
  auto from = [](int n) { return ombrix_bridge::Endpoint(asio::ip::make_address_v4(0x7F010000u + n), 6454); };
  TimePoint start(std::chrono::hours(1));
  for (int n = 0; n < 200; ++n)
    node.OnDatagram(poll.data(), poll.size(), from(n), start + std::chrono::milliseconds(n));
  EXPECT_EQ(node.controllers(), ombrix_bridge::kPollerLimit);
  size_t logged = 0;
  for (const std::string& line : lines) logged += line.find("new controller") != std::string::npos;
  EXPECT_EQ(logged, 1u);
  // A minute on, the first poller is new again (it was the one dropped),
  // and the line counts it with the 199 since the first line.
  lines.clear();
  node.OnDatagram(poll.data(), poll.size(), from(0), start + std::chrono::seconds(61));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("200 new controller(s) polled (latest 127.1.0.0)"), std::string::npos) << lines[0];
  EXPECT_EQ(node.controllers(), ombrix_bridge::kPollerLimit);
  socket.Close();
}

TEST(InputCadence, ThreeRepeatsAtDmxRateThenKeepAlivesInsideTheWindow) {
  using ombrix_bridge::RepeatCadence;
  RepeatCadence cadence;
  ombrix::protocols::TimePoint start(std::chrono::hours(1)), now = start;
  cadence.Sent(now, true);
  for (int repeat = 0; repeat < 3; ++repeat) {
    ombrix::protocols::TimePoint due = cadence.NextRepeat();
    EXPECT_EQ(due - now, ombrix_bridge::kMinSendInterval) << "repeat " << repeat;
    now = due;
    cadence.Sent(now, false);
  }
  for (int keepAlive = 0; keepAlive < 3; ++keepAlive) {
    auto gap = cadence.NextRepeat() - now;
    EXPECT_GE(gap, std::chrono::milliseconds(800));
    EXPECT_LE(gap + std::chrono::milliseconds(20), std::chrono::milliseconds(1000)) << "with a tick's lateness";
    now = cadence.NextRepeat();
    cadence.Sent(now, false);
  }
  cadence.Sent(now, true);  // a change starts the repeats again
  EXPECT_EQ(cadence.NextRepeat() - now, ombrix_bridge::kMinSendInterval);
}

}  // namespace
}  // namespace ombrix_bridge_test
