// Captured frames (one record of a pcap or pcapng file) down to the UDP
// datagram they carry, and the IPv4 and UDP headers a recorder writes in
// front of a datagram it received from a socket.
//
// Link types, by their pcap LINKTYPE (and libpcap DLT) numbers: Ethernet
// (1) with any number of 802.1Q / 802.1ad tags up to four, Linux cooked
// capture SLL (113) and SLL2 (276), raw IP (101, and the DLT values 12 and
// 14 that libpcap reports for it), IPv4 (228), and BSD loopback (0, 108).
// Only unfragmented IPv4 carrying UDP is decoded; everything else is a
// reason to skip the frame. Pure code over a byte span: never reads outside
// [data, data + captured).
#ifndef OMBRIX_PROTOCOLS_CAPTURE_FRAME_H
#define OMBRIX_PROTOCOLS_CAPTURE_FRAME_H

#include <cstddef>
#include <cstdint>

namespace ombrix::protocols {

constexpr uint32_t kLinkTypeNull = 0;
constexpr uint32_t kLinkTypeEthernet = 1;
constexpr uint32_t kLinkTypeRawDlt12 = 12;
constexpr uint32_t kLinkTypeRawDlt14 = 14;
constexpr uint32_t kLinkTypeRaw = 101;
constexpr uint32_t kLinkTypeLoop = 108;
constexpr uint32_t kLinkTypeLinuxSll = 113;
constexpr uint32_t kLinkTypeIpv4 = 228;
constexpr uint32_t kLinkTypeLinuxSll2 = 276;

// True for the link types DecodeCapturedFrame reads.
bool KnownLinkType(uint32_t linkType);

enum class FrameResult : uint8_t {
  kUdp,          // an IPv4 UDP datagram: the view is filled
  kNotIpv4,      // another network protocol (ARP, IPv6 ...)
  kNotUdp,       // IPv4, but TCP, ICMP ...
  kFragment,     // an IPv4 fragment (a datagram too large for one frame)
  kTruncated,    // cut short by the capture's snapshot length, or shorter than its headers
  kMalformed,    // header fields that contradict each other (IHL < 5, UDP length < 8 ...)
  kUnknownLink,  // a link type not read here
};

// "udp", "not-ipv4", ... for counters.
const char* FrameResultName(FrameResult result);

struct UdpView {
  uint32_t source = 0;       // IPv4 address, host order
  uint32_t destination = 0;  // IPv4 address, host order
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  const uint8_t* payload = nullptr;  // points into the frame
  size_t size = 0;
};

// Decodes one captured frame of linkType. captured is the number of bytes
// the file holds for it (the captured length, not the original length).
FrameResult DecodeCapturedFrame(uint32_t linkType, const uint8_t* data, size_t captured, UdpView* udp);

constexpr size_t kIpv4UdpHeaderSize = 28;

// Writes an IPv4 header (no options, don't fragment, TTL 64, identification
// id, header checksum) and a UDP header (with its checksum) in front of a
// copy of payload: a raw-IP frame (LINKTYPE_RAW). Returns its size, or 0
// when out has less than 28 + size bytes or the datagram would exceed
// 65535 bytes.
size_t BuildIpv4Udp(uint32_t source, uint32_t destination, uint16_t sourcePort, uint16_t destinationPort, uint16_t id,
                    const uint8_t* payload, size_t size, uint8_t* out, size_t capacity);

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_CAPTURE_FRAME_H
