// Captured frames down to UDP, for every link type read, and the headers
// the recorder writes: frames built here byte by byte, then cut at every
// length to check that nothing past the captured bytes is read.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "protocols/capture_frame.h"

namespace ombrix::protocols {
namespace {

std::vector<uint8_t> Payload() { return {'A', 'S', 'C', '-', 1, 2, 3, 4, 5}; }

// A raw IPv4 UDP frame from 10.0.0.5:40000 to 239.255.0.1:5568.
std::vector<uint8_t> RawFrame(const std::vector<uint8_t>& payload = Payload()) {
  std::vector<uint8_t> frame(kIpv4UdpHeaderSize + payload.size());
  size_t size =
      BuildIpv4Udp(0x0A000005, 0xEFFF0001, 40000, 5568, 7, payload.data(), payload.size(), frame.data(), frame.size());
  EXPECT_EQ(size, frame.size());
  return frame;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> head, const std::vector<uint8_t>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

std::vector<uint8_t> EthernetHeader(std::vector<uint16_t> types) {
  std::vector<uint8_t> header(12, 0x11);
  for (size_t i = 0; i < types.size(); ++i) {
    header.push_back(static_cast<uint8_t>(types[i] >> 8));
    header.push_back(static_cast<uint8_t>(types[i]));
    if (i + 1 < types.size()) {  // a tag: its control information (VLAN 42)
      header.push_back(0x00);
      header.push_back(42);
    }
  }
  return header;
}

void ExpectUdp(uint32_t linkType, const std::vector<uint8_t>& frame) {
  UdpView udp;
  ASSERT_EQ(DecodeCapturedFrame(linkType, frame.data(), frame.size(), &udp), FrameResult::kUdp);
  EXPECT_EQ(udp.source, 0x0A000005u);
  EXPECT_EQ(udp.destination, 0xEFFF0001u);
  EXPECT_EQ(udp.sourcePort, 40000);
  EXPECT_EQ(udp.destinationPort, 5568);
  std::vector<uint8_t> payload = Payload();
  ASSERT_EQ(udp.size, payload.size());
  EXPECT_EQ(std::memcmp(udp.payload, payload.data(), payload.size()), 0);
  // Every shorter capture of the same frame is refused, reading only the
  // bytes it holds (a copy of exactly that size, for ASan to watch).
  for (size_t cut = 0; cut < frame.size(); ++cut) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[cut == 0 ? 1 : cut]);
    if (cut > 0) std::memcpy(copy.get(), frame.data(), cut);
    UdpView ignored;
    EXPECT_NE(DecodeCapturedFrame(linkType, copy.get(), cut, &ignored), FrameResult::kUdp) << "cut at " << cut;
  }
}

TEST(CaptureFrame, RawIp) {
  ExpectUdp(kLinkTypeRaw, RawFrame());
  ExpectUdp(kLinkTypeRawDlt12, RawFrame());
  ExpectUdp(kLinkTypeIpv4, RawFrame());
}

TEST(CaptureFrame, Ethernet) { ExpectUdp(kLinkTypeEthernet, Concat(EthernetHeader({0x0800}), RawFrame())); }

TEST(CaptureFrame, EthernetWithVlanTags) {
  ExpectUdp(kLinkTypeEthernet, Concat(EthernetHeader({0x8100, 0x0800}), RawFrame()));
  ExpectUdp(kLinkTypeEthernet, Concat(EthernetHeader({0x88A8, 0x8100, 0x0800}), RawFrame()));
}

TEST(CaptureFrame, TooManyTagsAreRefused) {
  std::vector<uint8_t> frame = Concat(EthernetHeader({0x8100, 0x8100, 0x8100, 0x8100, 0x8100, 0x0800}), RawFrame());
  UdpView udp;
  EXPECT_EQ(DecodeCapturedFrame(kLinkTypeEthernet, frame.data(), frame.size(), &udp), FrameResult::kMalformed);
}

TEST(CaptureFrame, EthernetPaddingIsNotPayload) {
  std::vector<uint8_t> frame = Concat(EthernetHeader({0x0800}), RawFrame());
  frame.resize(frame.size() + 10, 0);
  UdpView udp;
  ASSERT_EQ(DecodeCapturedFrame(kLinkTypeEthernet, frame.data(), frame.size(), &udp), FrameResult::kUdp);
  EXPECT_EQ(udp.size, Payload().size());
}

TEST(CaptureFrame, LinuxCooked) {
  std::vector<uint8_t> sll = {0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00};
  ExpectUdp(kLinkTypeLinuxSll, Concat(sll, RawFrame()));
  std::vector<uint8_t> sll2 = {0x08, 0x00, 0, 0, 0, 0, 0, 1, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0};
  ExpectUdp(kLinkTypeLinuxSll2, Concat(sll2, RawFrame()));
  std::vector<uint8_t> sll2Tagged = {0x81, 0x00, 0, 0, 0, 0, 0, 1, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0, 0, 42, 0x08, 0};
  ExpectUdp(kLinkTypeLinuxSll2, Concat(sll2Tagged, RawFrame()));
}

TEST(CaptureFrame, BsdLoopback) {
  ExpectUdp(kLinkTypeNull, Concat({2, 0, 0, 0}, RawFrame()));
  ExpectUdp(kLinkTypeLoop, Concat({0, 0, 0, 2}, RawFrame()));
}

TEST(CaptureFrame, OtherPacketsAreNamed) {
  UdpView udp;
  std::vector<uint8_t> arp = Concat(EthernetHeader({0x0806}), std::vector<uint8_t>(28, 0));
  EXPECT_EQ(DecodeCapturedFrame(kLinkTypeEthernet, arp.data(), arp.size(), &udp), FrameResult::kNotIpv4);
  std::vector<uint8_t> tcp = RawFrame();
  tcp[9] = 6;
  EXPECT_EQ(DecodeCapturedFrame(kLinkTypeRaw, tcp.data(), tcp.size(), &udp), FrameResult::kNotUdp);
  std::vector<uint8_t> fragment = RawFrame();
  fragment[6] = 0x20;  // more fragments
  EXPECT_EQ(DecodeCapturedFrame(kLinkTypeRaw, fragment.data(), fragment.size(), &udp), FrameResult::kFragment);
  std::vector<uint8_t> ipv6(40, 0);
  ipv6[0] = 0x60;
  EXPECT_EQ(DecodeCapturedFrame(kLinkTypeRaw, ipv6.data(), ipv6.size(), &udp), FrameResult::kNotIpv4);
  std::vector<uint8_t> badIhl = RawFrame();
  badIhl[0] = 0x44;
  EXPECT_EQ(DecodeCapturedFrame(kLinkTypeRaw, badIhl.data(), badIhl.size(), &udp), FrameResult::kMalformed);
  std::vector<uint8_t> shortUdp = RawFrame();
  shortUdp[24] = 0;
  shortUdp[25] = 4;
  EXPECT_EQ(DecodeCapturedFrame(kLinkTypeRaw, shortUdp.data(), shortUdp.size(), &udp), FrameResult::kMalformed);
  std::vector<uint8_t> frame = RawFrame();
  EXPECT_EQ(DecodeCapturedFrame(147, frame.data(), frame.size(), &udp), FrameResult::kUnknownLink);
  EXPECT_FALSE(KnownLinkType(147));
  EXPECT_EQ(DecodeCapturedFrame(kLinkTypeRaw, nullptr, 0, &udp), FrameResult::kTruncated);
}

TEST(CaptureFrame, BuiltHeadersCarryValidChecksums) {
  std::vector<uint8_t> frame = RawFrame();
  auto sum = [](const uint8_t* data, size_t size, uint32_t start) {
    uint32_t total = start;
    for (size_t i = 0; i + 1 < size; i += 2) total += (data[i] << 8) | data[i + 1];
    if (size % 2) total += data[size - 1] << 8;
    while (total >> 16) total = (total & 0xFFFF) + (total >> 16);
    return total;
  };
  EXPECT_EQ(sum(frame.data(), 20, 0), 0xFFFFu);
  size_t udpLength = frame.size() - 20;
  uint32_t pseudo = sum(frame.data() + 12, 8, 0) + 17 + static_cast<uint32_t>(udpLength);
  EXPECT_EQ(sum(frame.data() + 20, udpLength, pseudo), 0xFFFFu);
  uint8_t small[30];
  std::vector<uint8_t> payload = Payload();
  EXPECT_EQ(BuildIpv4Udp(1, 2, 3, 4, 5, payload.data(), payload.size(), small, sizeof(small)), 0u);
}

}  // namespace
}  // namespace ombrix::protocols
