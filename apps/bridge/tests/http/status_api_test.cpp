// GET /api/status and the event stream against a bridge running in this
// process, fed over loopback by test sources: the JSON follows levels,
// owners, sources (preview, terminated, Art-Net), interfaces and drops; no
// request changes anything; live streams and request sizes are bounded; a
// stalled stream does not keep the bridge from stopping.
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "bridge_fixture.h"

namespace ombrix_bridge_test {
namespace {

using namespace std::chrono_literals;
using namespace ombrix::protocols;
using nlohmann::json;
using ombrix_bridge::Direction;

constexpr const char* kHostileName = "<img src=x onerror=alert(1)>";

std::vector<uint8_t> Source(uint16_t universe, const Levels& levels, uint8_t sequence, uint8_t cidByte,
                            std::string_view name, uint8_t priority = 100, bool preview = false,
                            bool terminated = false) {
  SacnData packet;
  packet.cid.fill(cidByte);
  packet.sourceName = name;
  packet.priority = priority;
  packet.sequence = sequence;
  packet.preview = preview;
  packet.streamTerminated = terminated;
  packet.universe = universe;
  return EncodeSacn(packet, levels);
}

class StatusApiTest : public BridgeTest {
 protected:
  void StartWithPage(BridgeConfig config) {
    config.http = "127.0.0.1:0";
    config.httpHosts = {"show-pc.example"};
    StartBridge(config);
    ASSERT_GT(bridge_->HttpPort(), 0);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", bridge_->HttpPort());
    client_->set_read_timeout(5, 0);
  }

  json Status() {
    httplib::Result result = client_->Get("/api/status");
    if (!result || result->status != 200) return json();
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json");
    return json::parse(result->body);
  }

  // Polls the API (up to 5 s) until check(status) holds; returns the last status.
  template <typename Check>
  json WaitFor(Check check) {
    json status;
    auto end = std::chrono::steady_clock::now() + 5s;
    do {
      status = Status();
      if (!status.is_null() && check(status)) return status;
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < end);
    ADD_FAILURE() << "never held; last status: " << status.dump().substr(0, 2000);
    return status;
  }

  static const json* UniverseOf(const json& status, const std::string& name) {
    for (const json& universe : status["universes"]) {
      if (universe["universe"] == name) return &universe;
    }
    return nullptr;
  }

  static const json* SourceNamed(const json& universe, const std::string& name) {
    for (const json& source : universe["sources"]) {
      if (source["name"] == name) return &source;
    }
    return nullptr;
  }

  std::unique_ptr<httplib::Client> client_;
};

TEST_F(StatusApiTest, ABackupUniverseShowsItsDeskRolesAndEachSlotsWinningPriority) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:2")};
  ombrix_bridge::UniverseSettings settings;
  settings.universe = {ombrix_bridge::Protocol::kSacn, 2};
  settings.merge = MergeRules{MergeMode::kBackup, {"Main"}, {"Spare"}, 0ms};
  settings.loss = ombrix_bridge::LossPolicy::kFull;
  config.universes = {settings};
  StartWithPage(config);
  Peer console;
  Levels look{}, claim{};
  look.fill(90);
  for (int i = 0; i < 10; ++i) claim[i] = 180;  // per-slot priorities: the first ten slots only
  SacnData priorities;
  priorities.cid.fill(0x33);
  priorities.sourceName = "Main";
  priorities.universe = 2;
  priorities.startCode = kStartCodePerSlotPriority;
  console.SendTo(sacnPort_, Source(2, look, 1, 0x44, "Spare"));
  console.SendTo(sacnPort_, EncodeSacn(priorities, claim));
  console.SendTo(sacnPort_, Source(2, look, 2, 0x33, "Main"));
  json status = WaitFor([](const json& s) {
    const json* u = UniverseOf(s, "sacn:2");
    return u && (*u)["state"] == "primary" && (*u)["priorities"][0] == 180;
  });
  const json& universe = *UniverseOf(status, "sacn:2");
  EXPECT_EQ(universe["merge"], "backup");
  EXPECT_EQ(universe["loss"], "full");
  EXPECT_EQ(universe["priorities"][10], 0) << "not sourced by the primary, and the backup is not shown";
  EXPECT_EQ((*SourceNamed(universe, "Main"))["role"], "primary");
  EXPECT_EQ((*SourceNamed(universe, "Spare"))["role"], "backup");
  EXPECT_EQ(status["identify"], false);

  console.SendTo(sacnPort_, Source(2, look, 3, 0x33, "Main", 100, false, true));
  WaitFor([](const json& s) {
    const json* u = UniverseOf(s, "sacn:2");
    return u && (*u)["state"] == "backup" && (*u)["priorities"][10] == 100;
  });
}

TEST_F(StatusApiTest, ANodeThatAnswersThePollWithOurInputAsItsOutputIsSubscribed) {
  BridgeConfig config;
  Peer node;
  config.mappings = {Map(1, Direction::kIn, "artnet:0:0:5")};
  config.artnetTargets = {"127.0.0.1:" + std::to_string(node.port())};
  StartWithPage(config);
  // The bridge polls its targets; the node answers that it outputs 0:0:5.
  bool polled = false;
  for (int i = 0; i < 20 && !polled; ++i) {
    std::vector<uint8_t> datagram = node.Receive(5000);
    ArtnetPacket packet = ParseArtnet(datagram.data(), datagram.size());
    polled = std::holds_alternative<ArtPoll>(packet);
  }
  ASSERT_TRUE(polled) << "no ArtPoll reached the target";
  ArtPollReply reply;
  reply.shortName = "Truss R";
  reply.portCount = 1;
  reply.ports[0].portType = kArtPortOutput;
  reply.ports[0].swOut = 5;
  std::vector<uint8_t> out(kArtPollReplySize);
  out.resize(BuildArtPollReply(reply, out.data(), out.size()));
  node.SendTo(artnetPort_, out);
  json status = WaitFor([](const json& s) { return s["subscribers"].size() == 1; });
  EXPECT_EQ(status["subscribers"][0]["short_name"], "Truss R");
  EXPECT_EQ(status["subscribers"][0]["universes"], json::array({"artnet:0:0:5"}));
}

TEST_F(StatusApiTest, LevelsOwnersAndSourcesFollowTheSenders) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:1"), Map(1, Direction::kIn, "sacn:3")};
  StartWithPage(config);
  Peer console;
  Levels desk{}, other{};
  for (int i = 0; i < 256; ++i) desk[i] = 200;
  for (int i = 256; i < 512; ++i) other[i] = 150;
  for (uint8_t sequence = 1; sequence <= 3; ++sequence) {
    console.SendTo(sacnPort_, Source(1, desk, sequence, 0x11, "Desk A"));
    console.SendTo(sacnPort_, Source(1, other, sequence, 0x22, kHostileName));
  }
  json status = WaitFor([](const json& s) {
    const json* universe = UniverseOf(s, "sacn:1");
    return universe && (*universe)["sources"].size() == 2 && (*universe)["levels"][0] == 200 &&
           (*universe)["levels"][300] == 150;
  });
  const json& universe = *UniverseOf(status, "sacn:1");
  const json* a = SourceNamed(universe, "Desk A");
  const json* b = SourceNamed(universe, kHostileName);  // carried as it came; the page shows it as text
  ASSERT_TRUE(a && b);
  EXPECT_EQ((*a)["cid"], "11111111-1111-1111-1111-111111111111");
  EXPECT_EQ((*a)["address"], "127.0.0.1");
  EXPECT_EQ((*a)["priority"], 100);
  EXPECT_EQ((*a)["packets"], 3);
  EXPECT_EQ((*a)["preview"], false);
  EXPECT_TRUE((*a)["gone"].is_null());
  int indexA = (*a)["cid"] == universe["sources"][0]["cid"] ? 0 : 1;
  EXPECT_EQ(universe["owners"][0], indexA);
  EXPECT_EQ(universe["owners"][300], 1 - indexA);
  EXPECT_EQ(universe["interfaces"], json::array({"SIM0000000000001"}));
  EXPECT_EQ(universe["protocol"], "sacn");
  EXPECT_EQ(universe["number"], 1);

  // A higher priority takes every slot it sends, including those at 0.
  console.SendTo(sacnPort_, Source(1, other, 4, 0x22, kHostileName, 150));
  status = WaitFor([&](const json& s) {
    const json* u = UniverseOf(s, "sacn:1");
    return u && (*u)["levels"][0] == 0 && (*u)["owners"][0] == 1 - indexA;
  });
  // An out-of-sequence packet is counted against its source.
  console.SendTo(sacnPort_, Source(1, desk, 2, 0x11, "Desk A"));
  status = WaitFor([](const json& s) {
    const json* u = UniverseOf(s, "sacn:1");
    const json* source = u ? SourceNamed(*u, "Desk A") : nullptr;
    return source && (*source)["sequence_errors"] == 1 && (*u)["drops"]["out-of-sequence"] == 1;
  });

  const json& interface = status["interfaces"][0];
  EXPECT_EQ(interface["serial"], "SIM0000000000001");
  EXPECT_EQ(interface["connected"], true);
  EXPECT_EQ(interface["state"], "connected");
  EXPECT_EQ(interface["type"], 1);
  EXPECT_EQ(interface["mode"], 2);
  EXPECT_EQ(interface["output"], true);
  EXPECT_EQ(interface["input"], true);
  ASSERT_EQ(status["sends"].size(), 1u);
  EXPECT_EQ(status["sends"][0]["universe"], "sacn:3");
  EXPECT_FALSE(status["version"].get<std::string>().empty());
  EXPECT_GE(status["uptime_seconds"].get<double>(), 0.0);
}

TEST_F(StatusApiTest, PreviewTerminatedArtnetAndDropsAreShown) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:2"), Map(2, Direction::kOut, "artnet:0:0:1")};
  StartWithPage(config);
  Peer console, controller;
  Levels levels{};
  levels[0] = 99;
  console.SendTo(sacnPort_, Source(2, levels, 1, 0x33, "Preview desk", 100, true));
  console.SendTo(sacnPort_, Source(2, levels, 1, 0x44, "Leaving desk"));
  controller.SendTo(artnetPort_, MakeArtDmx(1, levels, 1));
  std::vector<uint8_t> truncated = Source(2, levels, 2, 0x44, "Leaving desk");
  truncated.resize(100);
  console.SendTo(sacnPort_, truncated);
  json status = WaitFor([](const json& s) {
    const json* sacn = UniverseOf(s, "sacn:2");
    const json* artnet = UniverseOf(s, "artnet:0:0:1");
    return sacn && artnet && (*sacn)["sources"].size() == 2 && (*artnet)["sources"].size() == 1 &&
           s["drops"]["sacn"]["truncated"] == 1;
  });
  const json* preview = SourceNamed(*UniverseOf(status, "sacn:2"), "Preview desk");
  ASSERT_TRUE(preview);
  EXPECT_EQ((*preview)["preview"], true);
  const json& artnetSource = (*UniverseOf(status, "artnet:0:0:1"))["sources"][0];
  EXPECT_EQ(artnetSource["address"], "127.0.0.1");
  EXPECT_TRUE(artnetSource["priority"].is_null());
  EXPECT_EQ(artnetSource["cid"], "");
  EXPECT_EQ((*UniverseOf(status, "artnet:0:0:1"))["levels"][0], 99);

  console.SendTo(sacnPort_, Source(2, levels, 3, 0x44, "Leaving desk", 100, false, true));
  WaitFor([](const json& s) {
    const json* u = UniverseOf(s, "sacn:2");
    const json* leaving = u ? SourceNamed(*u, "Leaving desk") : nullptr;
    return leaving && (*leaving)["gone"] == "terminated";
  });
}

TEST_F(StatusApiTest, NothingChangesTheBridgeAndRequestsAreBounded) {
  BridgeConfig config;
  config.mappings = {Map(1, Direction::kOut, "sacn:1")};
  StartWithPage(config);
  httplib::Result page = client_->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("page.js"), std::string::npos);
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("script-src 'self'"), std::string::npos);
  for (const char* path : {"/page.js", "/page.css"}) {
    httplib::Result asset = client_->Get(path);
    ASSERT_TRUE(asset) << path;
    EXPECT_EQ(asset->status, 200) << path;
  }
  // Requests for another name (a rebound DNS name) get nothing.
  httplib::Result rebound = client_->Get("/api/status", {{"Host", "attacker.example:80"}});
  ASSERT_TRUE(rebound);
  EXPECT_EQ(rebound->status, 403);
  EXPECT_EQ(rebound->body.find("universes"), std::string::npos);
  for (const char* host : {"localhost:1", "127.0.0.1", "[::1]:8080", "Show-PC.example:8080"}) {
    httplib::Result named = client_->Get("/api/status", {{"Host", host}});
    ASSERT_TRUE(named) << host;
    EXPECT_EQ(named->status, 200) << host;
  }
  httplib::Result missing = client_->Get("/../../etc/passwd");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);

  // Only GET exists; a large body is refused before any handler sees it.
  for (const char* path : {"/api/status", "/", "/events"}) {
    httplib::Result posted = client_->Post(path, "{}", "application/json");
    ASSERT_TRUE(posted) << path;
    EXPECT_GE(posted->status, 400) << path;
    httplib::Result deleted = client_->Delete(path);
    ASSERT_TRUE(deleted) << path;
    EXPECT_GE(deleted->status, 400) << path;
  }
  httplib::Result large = client_->Post("/api/status", std::string(64 * 1024, 'x'), "text/plain");
  EXPECT_TRUE(!large || large->status == 413 || large->status >= 400);
  EXPECT_TRUE(Status()["universes"].is_array());  // still serving

  // Live streams: kMaxStreams at once; one more is refused while they run.
  std::vector<std::thread> readers;
  std::vector<std::atomic<int>> events(ombrix_bridge::kMaxStreams);
  std::atomic<bool> done{false};
  for (int i = 0; i < ombrix_bridge::kMaxStreams; ++i) {
    readers.emplace_back([&, i] {
      httplib::Client stream("127.0.0.1", bridge_->HttpPort());
      uint64_t lastSequence = 0;
      stream.Get("/events", [&](const char* data, size_t size) {
        std::string text(data, size);
        size_t at = text.find("\"sequence\":");
        if (at != std::string::npos) {
          uint64_t sequence = std::stoull(text.substr(at + 11));
          EXPECT_GT(sequence, lastSequence);  // every event newer than the last
          lastSequence = sequence;
          ++events[i];
        }
        return !done.load();
      });
    });
  }
  auto everyStreamLive = [&] {
    for (const std::atomic<int>& count : events) {
      if (count.load() < 3) return false;
    }
    return true;
  };
  auto end = std::chrono::steady_clock::now() + 10s;
  while (!everyStreamLive() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(everyStreamLive());
  httplib::Result refused = client_->Get("/events");
  EXPECT_TRUE(refused && refused->status == 503) << (refused ? refused->status : -1);
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_TRUE(Status()["universes"].is_array());
}

TEST_F(StatusApiTest, AStalledStreamDoesNotHoldUpTheBridgeAndIsDropped) {
  // Sixteen universes, so the stream carries enough to fill its buffers soon.
  ASSERT_EQ(SimApi().OmbrixSimReset(), 1);
  ombrix_tool::AddSimulatedInterfaces(SimApi(), 16);
  BridgeConfig config;
  for (int device = 1; device <= 16; ++device) {
    config.mappings.push_back(Map(device, Direction::kOut, "sacn:" + std::to_string(device)));
  }
  StartWithPage(config);
  // A client that asks for the stream and then never reads: its socket's
  // buffers fill, and the server's writes to it stall.
  int stalled = socket(AF_INET, SOCK_STREAM, 0);
  int small = 1024;
  setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(bridge_->HttpPort()));
  ASSERT_EQ(connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  const char request[] = "GET /events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_EQ(send(stalled, request, sizeof(request) - 1, 0), static_cast<ssize_t>(sizeof(request) - 1));
  // Meanwhile levels keep reaching the wire, and the API keeps answering.
  Peer console;
  Levels levels{};
  for (uint8_t step = 1; step <= 100; ++step) {
    levels[0] = step;
    console.SendTo(sacnPort_, MakeSacnData(1, levels, step));
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(WaitForWire(1, 0, levels));
  EXPECT_TRUE(Status()["universes"].is_array());
  // The server has given up on the stalled stream: reading what is queued
  // ends in the connection closed, not in a stream that goes on.
  timeval wait{10, 0};
  setsockopt(stalled, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  std::vector<char> buffer(1 << 16);
  ssize_t got = 0;
  size_t total = 0;
  auto end = std::chrono::steady_clock::now() + 15s;
  while ((got = recv(stalled, buffer.data(), buffer.size(), 0)) > 0 && std::chrono::steady_clock::now() < end) {
    total += static_cast<size_t>(got);
  }
  EXPECT_EQ(got, 0) << "the stalled stream was still open after " << total << " bytes";
  StopBridge();
  close(stalled);
}

}  // namespace
}  // namespace ombrix_bridge_test
