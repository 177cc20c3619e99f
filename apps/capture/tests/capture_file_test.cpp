// The file reader and writer over libpcap, and a show read from pcap and
// pcapng files of every kind of link the player takes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "bridge_fixture.h"
#include "capture_file.h"
#include "capture_test_files.h"
#include "protocols/capture_frame.h"
#include "recorder.h"
#include "show_reader.h"

namespace ombrix_capture_test {
namespace {

using namespace ombrix_capture;
namespace proto = ombrix::protocols;
using ombrix_bridge_test::Levels;
using ombrix_bridge_test::MakeSacnData;

std::vector<uint8_t> RawIp(const std::vector<uint8_t>& payload, uint16_t port = 5568) {
  std::vector<uint8_t> frame(proto::kIpv4UdpHeaderSize + payload.size());
  proto::BuildIpv4Udp(0x0A000002, 0xEFFF0001, 50000, port, 1, payload.data(), payload.size(), frame.data(),
                      frame.size());
  return frame;
}

Levels LevelsOf(int step) {
  Levels levels{};
  for (int i = 0; i < 512; ++i) levels[i] = static_cast<uint8_t>(step + i);
  return levels;
}

void WriteRaw(const std::string& path, const std::vector<TimedFrame>& frames) {
  CaptureWriter writer;
  std::string error;
  ASSERT_TRUE(writer.Open(path, &error)) << error;
  for (const TimedFrame& frame : frames)
    ASSERT_TRUE(writer.Write(frame.timeNs, frame.bytes.data(), frame.bytes.size(), &error));
  ASSERT_TRUE(writer.Close(&error)) << error;
}

std::vector<TimedFrame> SacnFrames(int count, int64_t intervalNs, int64_t startNs = kBase) {
  std::vector<TimedFrame> frames;
  for (int i = 0; i < count; ++i) {
    frames.push_back({startNs + i * intervalNs, RawIp(MakeSacnData(1, LevelsOf(i), static_cast<uint8_t>(i)))});
  }
  return frames;
}

TEST(CaptureFile, WrittenFramesReadBackWithTheirTimes) {
  std::string path = ScratchPath("roundtrip.pcap");
  std::vector<TimedFrame> frames = SacnFrames(50, 22727000);
  WriteRaw(path, frames);
  CaptureReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, &error)) << error;
  EXPECT_TRUE(proto::KnownLinkType(reader.linkType()));
  CapturedFrame frame;
  for (const TimedFrame& expected : frames) {
    ASSERT_EQ(reader.Next(&frame, &error), 1) << error;
    EXPECT_EQ(frame.timeNs, expected.timeNs / 1000 * 1000);  // microseconds in the file
    ASSERT_EQ(frame.captured, expected.bytes.size());
    EXPECT_EQ(std::vector<uint8_t>(frame.data, frame.data + frame.captured), expected.bytes);
  }
  EXPECT_EQ(reader.Next(&frame, &error), 0);
  remove(path.c_str());
}

TEST(CaptureFile, TheWriterCountsTheFileSize) {
  std::string path = ScratchPath("size.pcap");
  CaptureWriter writer;
  std::string error;
  ASSERT_TRUE(writer.Open(path, &error));
  std::vector<uint8_t> frame = RawIp({1, 2, 3});
  ASSERT_TRUE(writer.Write(kBase, frame.data(), frame.size(), &error));
  ASSERT_TRUE(writer.Close(&error));
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  EXPECT_EQ(static_cast<uint64_t>(file.tellg()), writer.bytes());
  remove(path.c_str());
}

TEST(CaptureFile, ATruncatedFileNamesFileAndOffset) {
  std::string path = ScratchPath("truncated.pcap");
  WriteRaw(path, SacnFrames(3, 1000000));
  // Keep the first record whole and cut the second.
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t record = 16 + proto::kIpv4UdpHeaderSize + 638;
  bytes.resize(24 + record + 20);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  CaptureReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, &error)) << error;
  CapturedFrame frame;
  ASSERT_EQ(reader.Next(&frame, &error), 1);
  ASSERT_EQ(reader.Next(&frame, &error), -1);
  EXPECT_NE(error.find(path + " is broken at byte " + std::to_string(24 + record)), std::string::npos) << error;
  EXPECT_EQ(error.back(), '.');
  remove(path.c_str());
}

TEST(CaptureFile, ANonCaptureFileIsRefusedInOneSentence) {
  std::string path = ScratchPath("text.pcap");
  std::ofstream(path) << "this is not a capture file at all\n";
  CaptureReader reader;
  std::string error;
  EXPECT_FALSE(reader.Open(path, &error));
  EXPECT_EQ(error.find(path + " is not a pcap or pcapng file"), 0u) << error;
  EXPECT_FALSE(reader.Open(ScratchPath("absent.pcap"), &error));
  EXPECT_NE(error.find("cannot open it"), std::string::npos) << error;
  remove(path.c_str());
}

TEST(ShowReaderTest, ACaptureWithoutSacnOrArtnetSaysSo) {
  std::string path = ScratchPath("other.pcap");
  WriteRaw(path, {{kBase, RawIp({1, 2, 3, 4}, 53)}, {kBase + 1000, RawIp({5, 6}, 123)}});
  ShowReader show({path}, ShowPorts());
  std::string error;
  EXPECT_FALSE(show.Check(&error));
  EXPECT_EQ(error, path +
                       " holds no sACN or Art-Net datagram (UDP to port 5568 or 6454, or a port given with "
                       "--sacn-port or --artnet-port).");
  remove(path.c_str());
}

TEST(ShowReaderTest, PcapngWithSll2AndVlanTaggedEthernet) {
  std::vector<uint8_t> payload = MakeSacnData(7, LevelsOf(3), 1);
  std::vector<uint8_t> ip = RawIp(payload);
  std::vector<uint8_t> sll2 = {0x08, 0x00, 0, 0, 0, 0, 0, 1, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0};
  sll2.insert(sll2.end(), ip.begin(), ip.end());
  std::vector<uint8_t> vlan(12, 0x22);
  for (uint8_t b : {0x81, 0x00, 0x00, 0x2A, 0x08, 0x00}) vlan.push_back(b);
  vlan.insert(vlan.end(), ip.begin(), ip.end());
  std::vector<uint8_t> arp(12, 0x22);
  for (uint8_t b : {0x08, 0x06}) arp.push_back(b);
  arp.resize(60, 0);
  std::string sll2Path = ScratchPath("sll2.pcapng");
  std::string vlanPath = ScratchPath("vlan.pcapng");
  WritePcapng(sll2Path, 276, {{kBase, sll2}, {kBase + 25000000, sll2}});
  WritePcapng(vlanPath, 1, {{kBase, vlan}, {kBase + 1000, arp}, {kBase + 25000000, vlan}});
  for (const std::string& path : {sll2Path, vlanPath}) {
    ShowReader show({path}, ShowPorts());
    std::string error;
    ASSERT_TRUE(show.Check(&error)) << error;
    ShowDatagram datagram;
    for (int64_t offset : {int64_t{0}, int64_t{25000000}}) {
      ASSERT_EQ(show.Next(&datagram, &error), 1) << path << ": " << error;
      EXPECT_EQ(datagram.offsetNs, offset);
      EXPECT_EQ(datagram.protocol, ShowProtocol::kSacn);
      EXPECT_EQ(std::vector<uint8_t>(datagram.udp.payload, datagram.udp.payload + datagram.udp.size), payload);
    }
    EXPECT_EQ(show.Next(&datagram, &error), 0);
    if (path == vlanPath) {
      EXPECT_EQ(show.skips().Text(), "1 not-ipv4");
    }
    remove(path.c_str());
  }
}

TEST(ShowReaderTest, RotatedFilesContinueAndUnrelatedOnesFollow) {
  std::string first = ScratchPath("part-0001.pcap");
  std::string second = ScratchPath("part-0002.pcap");
  std::string unrelated = ScratchPath("earlier.pcap");
  WriteRaw(first, SacnFrames(3, 10000000));                               // 0, 10, 20 ms
  WriteRaw(second, SacnFrames(2, 10000000, kBase + 30000000));            // 30, 40 ms
  WriteRaw(unrelated, SacnFrames(2, 10000000, kBase - 3600000000000LL));  // an hour before
  ShowReader show({first, second, unrelated}, ShowPorts());
  std::string error;
  ASSERT_TRUE(show.Check(&error)) << error;
  std::vector<int64_t> offsets;
  ShowDatagram datagram;
  while (show.Next(&datagram, &error) == 1) offsets.push_back(datagram.offsetNs / 1000000);
  EXPECT_EQ(offsets, (std::vector<int64_t>{0, 10, 20, 30, 40, 50, 60}));
  EXPECT_EQ(show.lastIntervalNs(), 10000000);
  for (const std::string& path : {first, second, unrelated}) remove(path.c_str());
}

TEST(Recorder, NumberedFiles) {
  EXPECT_EQ(NumberedFile("show.pcap", 3), "show-0003.pcap");
  EXPECT_EQ(NumberedFile("/var/lib/a.b/show", 12), "/var/lib/a.b/show-0012");
  EXPECT_EQ(NumberedFile("dir/.hidden", 1), "dir/.hidden-0001");
}

}  // namespace
}  // namespace ombrix_capture_test
