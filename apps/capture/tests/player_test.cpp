// The player in-process on the simulator: a show written here, played to a
// simulated interface through the bridge's merge, looped, and a broken
// file ending playback with one sentence.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "bridge_fixture.h"
#include "capture_file.h"
#include "capture_test_files.h"
#include "player.h"
#include "protocols/capture_frame.h"

namespace ombrix_capture_test {
namespace {

using namespace ombrix_capture;
namespace proto = ombrix::protocols;
using ombrix_bridge_test::Levels;
using ombrix_bridge_test::MakeSacnData;
using ombrix_bridge_test::SimApi;

constexpr int64_t kInterval = 10000000;  // 100 frames per second

Levels Look(int step) {
  Levels levels{};
  for (int i = 0; i < 512; ++i) levels[i] = static_cast<uint8_t>(step * 3 + i);
  return levels;
}

std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload, uint32_t source = 0x0A000002, uint16_t port = 5568) {
  std::vector<uint8_t> frame(proto::kIpv4UdpHeaderSize + payload.size());
  proto::BuildIpv4Udp(source, 0xEFFF0001, 50000, port, 1, payload.data(), payload.size(), frame.data(), frame.size());
  return frame;
}

class PlayerTest : public ombrix_bridge_test::BridgeTest {
 protected:
  void WriteShow(const std::string& path, int frames, uint8_t priorityLow = 0) {
    CaptureWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(path, &error)) << error;
    for (int i = 0; i < frames; ++i) {
      std::vector<uint8_t> frame = Frame(MakeSacnData(1, Look(i), static_cast<uint8_t>(i)));
      ASSERT_TRUE(writer.Write(kBase + i * kInterval, frame.data(), frame.size(), &error));
      if (priorityLow != 0) {
        // A second source of lower priority with other levels: the merge
        // must keep the first's.
        proto::SacnData data;
        data.cid[0] = 9;
        data.sourceName = "backup";
        data.priority = priorityLow;
        data.sequence = static_cast<uint8_t>(i);
        data.universe = 1;
        Levels full;
        full.fill(255);
        std::vector<uint8_t> payload = ombrix_bridge_test::EncodeSacn(data, full);
        std::vector<uint8_t> other = Frame(payload, 0x0A000003);
        ASSERT_TRUE(writer.Write(kBase + i * kInterval + 1000, other.data(), other.size(), &error));
      }
    }
    ASSERT_TRUE(writer.Close(&error));
  }

  // The last value the device's wire carried for each slot of block 0.
  std::array<uint8_t, 32> LastBlock(int32_t device, int block) {
    std::array<uint8_t, 32> last{};
    for (const auto& [number, data] : WireBlocks(device)) {
      if (number == block) last = data;
    }
    return last;
  }
};

TEST_F(PlayerTest, PlaysAShowToAnInterfaceOnTime) {
  std::string path = ScratchPath("show.pcap");
  WriteShow(path, 30, 50);
  PlayOptions options;
  options.files = {path};
  options.outs = {"SIM0000000000001=sacn:1"};
  options.statusSeconds = 0;
  std::vector<std::pair<int64_t, int64_t>> frames;  // due, applied
  PlayHooks hooks;
  hooks.onFrame = [&frames](int64_t due, int64_t applied, int64_t) { frames.emplace_back(due, applied); };
  ASSERT_EQ(RunPlay(SimApi(), options, hooks), 0);
  ASSERT_EQ(frames.size(), 60u);
  for (size_t i = 0; i < frames.size(); i += 2) {
    EXPECT_EQ(frames[i].first, static_cast<int64_t>(i / 2) * kInterval);
    EXPECT_GE(frames[i].second, frames[i].first);  // never early; how late is the benchmark's figure
  }
  Levels last = Look(29);
  std::array<uint8_t, 32> block;
  std::copy(last.begin() + 32, last.begin() + 64, block.begin());
  EXPECT_EQ(LastBlock(1, 1), block);
  EXPECT_EQ(LastMode(1), 0);  // back to mode 0 at the end
  remove(path.c_str());
}

TEST_F(PlayerTest, PlaysArtnetThroughTheNodesMerge) {
  std::string path = ScratchPath("artnet.pcap");
  CaptureWriter writer;
  std::string error;
  ASSERT_TRUE(writer.Open(path, &error)) << error;
  // Two senders merged highest-takes-precedence, and a poll from a
  // controller that the player must not answer from the file.
  for (int i = 0; i < 10; ++i) {
    Levels low{}, high{};
    low.fill(10);
    high.fill(static_cast<uint8_t>(i));
    high[0] = 200;
    for (const auto& [levels, source] : {std::pair{low, 0x0A000002u}, std::pair{high, 0x0A000003u}}) {
      std::vector<uint8_t> frame =
          Frame(ombrix_bridge_test::MakeArtDmx(0x0012, levels, static_cast<uint8_t>(i + 1)), source, 6454);
      ASSERT_TRUE(writer.Write(kBase + i * kInterval, frame.data(), frame.size(), &error));
    }
    std::vector<uint8_t> poll = Frame(ombrix_bridge_test::MakeArtPoll(), 0x0A000009, 6454);
    ASSERT_TRUE(writer.Write(kBase + i * kInterval + 500, poll.data(), poll.size(), &error));
  }
  ASSERT_TRUE(writer.Close(&error));
  PlayOptions options;
  options.files = {path};
  options.outs = {"SIM0000000000002=artnet:0:1:2"};
  options.statusSeconds = 0;
  ASSERT_EQ(RunPlay(SimApi(), options), 0);
  std::array<uint8_t, 32> block = LastBlock(2, 0);
  EXPECT_EQ(block[0], 200);
  EXPECT_EQ(block[1], 10);  // the last high frame has 9 there: HTP keeps 10
  EXPECT_EQ(LastBlock(2, 15)[31], 10);
  remove(path.c_str());
}

TEST_F(PlayerTest, BlackoutAtTheEnd) {
  std::string path = ScratchPath("blackout.pcap");
  WriteShow(path, 5);
  PlayOptions options;
  options.files = {path};
  options.outs = {"SIM0000000000001=sacn:1"};
  options.blackout = true;
  options.statusSeconds = 0;
  ASSERT_EQ(RunPlay(SimApi(), options), 0);
  for (int block = 0; block < 16; ++block) EXPECT_EQ(LastBlock(1, block), (std::array<uint8_t, 32>{})) << block;
  remove(path.c_str());
}

TEST_F(PlayerTest, LoopsAtTheSameTimesEveryLoop) {
  std::string path = ScratchPath("loop.pcap");
  WriteShow(path, 10);
  PlayOptions options;
  options.files = {path};
  options.outs = {"SIM0000000000001=sacn:1"};
  options.loop = true;
  options.statusSeconds = 0;
  std::vector<int64_t> dues;
  PlayHooks hooks;
  hooks.onFrame = [&dues](int64_t due, int64_t, int64_t) { dues.push_back(due); };
  hooks.stop = [&dues] { return dues.size() >= 40; };
  ASSERT_EQ(RunPlay(SimApi(), options, hooks), 0);
  ASSERT_GE(dues.size(), 40u);
  // Ten frames 10 ms apart, and the next loop one interval after the last.
  for (size_t i = 0; i < 40; ++i) EXPECT_EQ(dues[i], static_cast<int64_t>(i) * kInterval) << i;
  remove(path.c_str());
}

TEST_F(PlayerTest, FromToAndSpeed) {
  std::string path = ScratchPath("range.pcap");
  WriteShow(path, 30);
  PlayOptions options;
  options.files = {path};
  options.outs = {"SIM0000000000001=sacn:1"};
  options.from = "0.1";
  options.to = "0.2";
  options.speed = 2;
  options.statusSeconds = 0;
  std::vector<std::pair<int64_t, int64_t>> frames;  // due, offset
  PlayHooks hooks;
  hooks.onFrame = [&frames](int64_t due, int64_t, int64_t offset) { frames.emplace_back(due, offset); };
  ASSERT_EQ(RunPlay(SimApi(), options, hooks), 0);
  ASSERT_EQ(frames.size(), 11u);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].second, static_cast<int64_t>(10 + i) * kInterval);
    EXPECT_EQ(frames[i].first, static_cast<int64_t>(i) * kInterval / 2);
  }
  remove(path.c_str());
}

TEST_F(PlayerTest, ABrokenFileEndsPlaybackInOneSentence) {
  std::string path = ScratchPath("broken.pcap");
  WriteShow(path, 20);
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bytes.resize(bytes.size() - 100);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  PlayOptions options;
  options.files = {path};
  options.outs = {"SIM0000000000001=sacn:1"};
  options.statusSeconds = 0;
  testing::internal::CaptureStderr();
  int code = RunPlay(SimApi(), options);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, 1);
  size_t record = 16 + proto::kIpv4UdpHeaderSize + 638;
  EXPECT_NE(
      log.find("ombrix: " + path + " is broken at byte " + std::to_string(24 + 19 * record) + " (truncated dump file"),
      std::string::npos)
      << log;
  EXPECT_EQ(LastMode(1), 0);
  remove(path.c_str());
}

TEST_F(PlayerTest, UsageMistakes) {
  PlayOptions options;
  options.files = {"x.pcap"};
  options.speed = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunPlay(SimApi(), options), 2);
  options.speed = 1;
  options.from = "2:00";
  options.to = "1:00";
  EXPECT_EQ(RunPlay(SimApi(), options), 2);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("--speed must be above 0"), std::string::npos) << log;
  EXPECT_NE(log.find("--to must come after --from."), std::string::npos) << log;
}

}  // namespace
}  // namespace ombrix_capture_test
