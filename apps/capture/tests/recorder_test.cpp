// The recorder in-process: the network through the bridge's socket and
// universe filter, and an interface's input as sACN of the node's own CID,
// read back from the file it wrote.
#include <gtest/gtest.h>

#include <atomic>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "bridge_fixture.h"
#include "capture_file.h"
#include "capture_test_files.h"
#include "protocols/capture_frame.h"
#include "protocols/sacn_packet.h"
#include "recorder.h"
#include "sacn_identity.h"

namespace ombrix_capture_test {
namespace {

using namespace ombrix_capture;
namespace proto = ombrix::protocols;
using ombrix_bridge_test::Levels;
using ombrix_bridge_test::SimApi;

// The sACN data packets of a recording: (universe, CID, levels).
struct Recorded {
  uint16_t universe;
  proto::Cid cid;
  Levels levels;
  uint16_t destinationPort;
};

std::vector<Recorded> ReadRecording(const std::string& path) {
  std::vector<Recorded> packets;
  CaptureReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(path, &error)) << error;
  CapturedFrame frame;
  while (reader.Next(&frame, &error) == 1) {
    proto::UdpView udp;
    EXPECT_EQ(proto::DecodeCapturedFrame(reader.linkType(), frame.data, frame.captured, &udp),
              proto::FrameResult::kUdp);
    proto::SacnPacket packet = proto::ParseSacn(udp.payload, udp.size);
    const proto::SacnData* data = std::get_if<proto::SacnData>(&packet);
    EXPECT_NE(data, nullptr) << "a recorded datagram is not sACN data";
    if (data == nullptr) continue;
    Recorded recorded{data->universe, data->cid, {}, udp.destinationPort};
    std::copy(data->slots, data->slots + data->slotCount, recorded.levels.begin());
    packets.push_back(recorded);
  }
  return packets;
}

class RecorderTest : public ombrix_bridge_test::BridgeTest {};

// Listening on loopback ports of its own, joining no group.
RecordOptions LoopbackRecording(const std::string& path) {
  RecordOptions options;
  options.file = path;
  options.bind = "127.0.0.1";
  options.sacnPort = ombrix_bridge_test::FreeUdpPort();
  options.artnetPort = ombrix_bridge_test::FreeUdpPort();
  options.unicastOnly = true;
  options.statusSeconds = 0;
  return options;
}

TEST_F(RecorderTest, NamedUniversesOnlyAsTheyArrive) {
  std::string path = ScratchPath("network.pcap");
  RecordOptions options = LoopbackRecording(path);
  options.universes = {"sacn:2"};
  ombrix_bridge_test::Peer console;
  std::atomic<int> sent{0};
  std::atomic<bool> done{false};
  std::thread sender([&] {
    Levels levels{};
    // Until the recorder has had plenty of time to open its socket: a
    // universe it records, one it does not, and a datagram that is not sACN.
    for (int i = 0; i < 100 && !done.load(); ++i) {
      levels[0] = static_cast<uint8_t>(i);
      console.SendTo(options.sacnPort, ombrix_bridge_test::MakeSacnData(2, levels, static_cast<uint8_t>(i)));
      console.SendTo(options.sacnPort, ombrix_bridge_test::MakeSacnData(1, levels, static_cast<uint8_t>(i)));
      console.SendTo(options.sacnPort, std::vector<uint8_t>{1, 2, 3});
      sent.store(i + 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  int code = RunRecord(SimApi(), options, [&] { return sent.load() >= 100; });
  done.store(true);
  sender.join();
  ASSERT_EQ(code, 0);
  std::vector<Recorded> packets = ReadRecording(path);
  ASSERT_FALSE(packets.empty());
  int last = -1;
  for (const Recorded& packet : packets) {
    EXPECT_EQ(packet.universe, 2);
    EXPECT_EQ(packet.destinationPort, options.sacnPort);
    EXPECT_GT(packet.levels[0], last) << "recorded out of order or twice";
    last = packet.levels[0];
  }
  remove(path.c_str());
}

TEST_F(RecorderTest, RotatesToNumberedFilesThatEachStayWithinTheLimit) {
  std::string path = ScratchPath("rotated.pcap");
  RecordOptions options = LoopbackRecording(path);
  options.maxBytes = 4096;  // five sACN packets of 512 slots per file
  options.rotate = true;
  ombrix_bridge_test::Peer console;
  std::atomic<bool> done{false};
  std::thread sender([&] {
    Levels levels{};
    for (int i = 0; i < 200 && !done.load(); ++i) {
      console.SendTo(options.sacnPort, ombrix_bridge_test::MakeSacnData(1, levels, static_cast<uint8_t>(i)));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  // Until the third file has begun: the recorder has rotated twice.
  std::string third = NumberedFile(path, 3);
  int code = RunRecord(SimApi(), options, [&] { return access(third.c_str(), F_OK) == 0; });
  done.store(true);
  sender.join();
  ASSERT_EQ(code, 0);
  EXPECT_NE(access(path.c_str(), F_OK), 0) << "with rotation every file is numbered";
  for (int number = 1; number <= 3; ++number) {
    std::string file = NumberedFile(path, number);
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    EXPECT_LE(static_cast<uint64_t>(in.tellg()), options.maxBytes) << file;
    if (number < 3) {
      EXPECT_EQ(ReadRecording(file).size(), 5u) << file;
    }
    remove(file.c_str());
  }
}

TEST_F(RecorderTest, InterfaceInputAsSacnOfTheNodesOwnCid) {
  std::string path = ScratchPath("input.pcap");
  RecordOptions options;
  options.file = path;
  options.ins = {"SIM0000000000002=sacn:7"};
  options.statusSeconds = 0;
  std::atomic<bool> stop{false};
  std::thread console([&] {
    uint8_t report[34] = {0, 0x03};
    for (int i = 0; i < 32; ++i) report[2 + i] = static_cast<uint8_t>(100 + i);
    // Captured again and again until the recording is over: the recorder
    // opens its link at some point after it starts.
    while (!stop.load()) {
      SimApi().OmbrixSimInjectInput(2, report, sizeof(report));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  options.seconds = 2;
  int code = RunRecord(SimApi(), options);
  stop.store(true);
  console.join();
  ASSERT_EQ(code, 0);
  std::vector<Recorded> packets = ReadRecording(path);
  bool found = false;
  proto::Cid cid = ombrix_bridge::MakeCid(ombrix_bridge::HostName(), Serial(2), 7);
  for (const Recorded& packet : packets) {
    EXPECT_EQ(packet.universe, 7);
    EXPECT_EQ(packet.cid, cid);
    EXPECT_EQ(packet.destinationPort, 5568);
    found = found || (packet.levels[96] == 100 && packet.levels[127] == 131);
  }
  EXPECT_TRUE(found) << "the captured block was never recorded";
  remove(path.c_str());
}

TEST_F(RecorderTest, UsageMistakes) {
  RecordOptions options;
  options.file = ScratchPath("never.pcap");
  options.rotate = true;
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunRecord(SimApi(), options), 2);
  options.rotate = false;
  options.ins = {"SIM0000000000001=artnet:0:0:1"};
  EXPECT_EQ(RunRecord(SimApi(), options), 2);
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("--rotate needs --max-bytes."), std::string::npos) << log;
  EXPECT_NE(log.find("interface input is recorded as sACN"), std::string::npos) << log;
}

}  // namespace
}  // namespace ombrix_capture_test
