// The status page's parts on their own: the --http address, the JSON of a
// snapshot whatever its strings hold, rates, and the board's hand-over.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "http/rate_meter.h"
#include "http/snapshot_board.h"
#include "http/status_json.h"
#include "http/status_server.h"

namespace ombrix_bridge {
namespace {

using namespace std::chrono_literals;

TEST(StatusPageTest, HttpAddressTakesAPortOrAnAddressAndPort) {
  struct Case {
    const char* text;
    bool ok;
    const char* address = "";
    int port = -1;
  };
  for (const Case& c : {Case{"8080", true, "127.0.0.1", 8080}, Case{"0.0.0.0:80", true, "0.0.0.0", 80},
                        Case{"[::1]:9000", true, "::1", 9000}, Case{"127.0.0.1:0", true, "127.0.0.1", 0},
                        Case{"", false}, Case{"65536", false}, Case{"http", false}, Case{"host.example:80", false},
                        Case{":80", false}, Case{"1.2.3.4:", false}, Case{"-1", false}}) {
    std::string address, error;
    int port = -1;
    EXPECT_EQ(ParseHttpAddress(c.text, &address, &port, &error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(address, c.address) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    } else {
      EXPECT_FALSE(error.empty()) << c.text;
    }
  }
}

TEST(StatusPageTest, JsonIsValidWhateverTheStringsHold) {
  StatusSnapshot snapshot;
  snapshot.version = "1.2.3";
  UniverseStatus universe;
  universe.universe = "sacn:1";
  universe.levels[511] = 255;
  universe.owners.fill(-1);
  universe.owners[0] = 0;
  SourceStatus source;
  // Quotes, a backslash, a line break, markup and a byte that is not UTF-8.
  source.name = "\"</script>\\\n<img src=x onerror=alert(1)>\xff";
  source.priority = 100;
  universe.sources.push_back(source);
  SourceStatus artnet;
  artnet.address = "10.0.0.5";
  universe.sources.push_back(artnet);
  snapshot.universes.push_back(universe);
  snapshot.sacnDrops[static_cast<size_t>(ombrix::protocols::DropKind::kTruncated)] = 7;

  std::string text = StatusJson(snapshot);
  EXPECT_EQ(text.find('\n'), std::string::npos);  // one line: an event's data field
  nlohmann::json parsed = nlohmann::json::parse(text);
  const nlohmann::json& first = parsed["universes"][0]["sources"][0];
  std::string name = source.name.substr(0, source.name.size() - 1);
  EXPECT_EQ(first["name"], name + "\xef\xbf\xbd");  // the stray byte as U+FFFD
  EXPECT_EQ(first["priority"], 100);
  EXPECT_TRUE(parsed["universes"][0]["sources"][1]["priority"].is_null());
  EXPECT_EQ(parsed["universes"][0]["levels"].size(), 512u);
  EXPECT_EQ(parsed["universes"][0]["levels"][511], 255);
  EXPECT_EQ(parsed["universes"][0]["owners"][1], -1);
  EXPECT_EQ(parsed["drops"]["sacn"]["truncated"], 7);
  EXPECT_EQ(parsed["drops"]["artnet"].size(), ombrix::protocols::kDropKindCount);
}

TEST(StatusPageTest, RatesAreMeasuredOverAboutASecond) {
  RateMeters rates;
  TimePoint start{};
  EXPECT_EQ(rates.Rate("a", 100, start), 0.0);
  EXPECT_EQ(rates.Rate("a", 120, start + 500ms), 0.0);  // not a second yet
  EXPECT_DOUBLE_EQ(rates.Rate("a", 144, start + 1000ms), 44.0);
  EXPECT_DOUBLE_EQ(rates.Rate("a", 150, start + 1500ms), 44.0);  // holds until the next second
  EXPECT_DOUBLE_EQ(rates.Rate("a", 144 + 88, start + 3000ms), 44.0);
  EXPECT_EQ(rates.Rate("a", 5, start + 3100ms), 0.0);  // the counter started again
  rates.Prune(start + 20s);
  EXPECT_EQ(rates.Rate("a", 50, start + 20s), 0.0);  // forgotten, so new
}

TEST(StatusPageTest, BoardHandsOverTheNewestSnapshotAndWakesWaiters) {
  SnapshotBoard board;
  auto now = SnapshotBoard::Clock::now();
  EXPECT_FALSE(board.Watched(now));
  EXPECT_EQ(board.WaitNewer(0, 1ms), nullptr);
  EXPECT_TRUE(board.Watched(SnapshotBoard::Clock::now()));  // asking marks it watched

  StatusSnapshot first;
  first.sequence = 1;
  board.Publish(first);
  std::shared_ptr<const PublishedStatus> held = board.WaitNewer(0, 1ms);
  ASSERT_TRUE(held);
  const std::string& json = held->Json();
  EXPECT_NE(json.find("\"sequence\":1"), std::string::npos);

  std::thread publisher([&] {
    std::this_thread::sleep_for(20ms);
    StatusSnapshot second;
    second.sequence = 2;
    board.Publish(second);
  });
  std::shared_ptr<const PublishedStatus> newer = board.WaitNewer(1, 5s);
  publisher.join();
  ASSERT_TRUE(newer);
  EXPECT_EQ(newer->snapshot().sequence, 2u);
  // A reader's snapshot stays whole after newer ones replace it.
  EXPECT_EQ(held->snapshot().sequence, 1u);
  EXPECT_EQ(&held->Json(), &json);

  std::thread closer([&] {
    std::this_thread::sleep_for(20ms);
    board.Close();
  });
  board.WaitNewer(2, 60s);  // returns on Close, not after a minute
  closer.join();
  EXPECT_TRUE(board.closed());
}

}  // namespace
}  // namespace ombrix_bridge
