// Captured frames down to UDP: each layer's header is checked against the
// bytes left before a field of it is read.
#include "protocols/capture_frame.h"

#include <cstring>

#include "protocols/byte_order.h"

namespace ombrix::protocols {
namespace {

using bytes::Big16;
using bytes::Big32;
using bytes::PutBig16;
using bytes::PutBig32;

constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint16_t kEtherTypeVlan = 0x8100;
constexpr uint16_t kEtherTypeQinQ = 0x88A8;
constexpr uint16_t kEtherTypeQinQOld = 0x9100;
constexpr int kMaxTags = 4;
constexpr uint8_t kIpProtocolUdp = 17;

bool IsTag(uint16_t type) { return type == kEtherTypeVlan || type == kEtherTypeQinQ || type == kEtherTypeQinQOld; }

// Past any VLAN tags: type is the EtherType just read and *offset the
// first byte after it; each tag is its control information (2 bytes) and
// the next EtherType. Ends with the network layer's type and start.
FrameResult WalkTags(const uint8_t* data, size_t captured, size_t* offset, uint16_t* type) {
  for (int tags = 0; IsTag(*type); ++tags) {
    if (tags == kMaxTags) return FrameResult::kMalformed;
    if (captured < *offset + 4) return FrameResult::kTruncated;
    *type = Big16(data + *offset + 2);
    *offset += 4;
  }
  return FrameResult::kUdp;
}

// The same from an EtherType at *offset.
FrameResult SkipTags(const uint8_t* data, size_t captured, size_t* offset, uint16_t* type) {
  if (captured < *offset + 2) return FrameResult::kTruncated;
  *type = Big16(data + *offset);
  *offset += 2;
  return WalkTags(data, captured, offset, type);
}

FrameResult DecodeIpv4(const uint8_t* data, size_t size, UdpView* udp) {
  if (size < 20) return FrameResult::kTruncated;
  if ((data[0] >> 4) != 4) return FrameResult::kNotIpv4;
  size_t headerSize = static_cast<size_t>(data[0] & 0x0F) * 4;
  if (headerSize < 20) return FrameResult::kMalformed;
  size_t total = Big16(data + 2);
  if (total < headerSize) return FrameResult::kMalformed;
  // Ethernet pads short frames: the datagram ends where IPv4 says.
  if (total > size) return FrameResult::kTruncated;
  uint16_t fragment = Big16(data + 6);
  if ((fragment & 0x2000) != 0 || (fragment & 0x1FFF) != 0) return FrameResult::kFragment;
  if (data[9] != kIpProtocolUdp) return FrameResult::kNotUdp;
  const uint8_t* datagram = data + headerSize;
  size_t left = total - headerSize;
  if (left < 8) return FrameResult::kTruncated;
  size_t udpLength = Big16(datagram + 4);
  if (udpLength < 8 || udpLength > left) return udpLength < 8 ? FrameResult::kMalformed : FrameResult::kTruncated;
  udp->source = Big32(data + 12);
  udp->destination = Big32(data + 16);
  udp->sourcePort = Big16(datagram);
  udp->destinationPort = Big16(datagram + 2);
  udp->payload = datagram + 8;
  udp->size = udpLength - 8;
  return FrameResult::kUdp;
}

FrameResult DecodeNetwork(uint16_t type, const uint8_t* data, size_t captured, size_t offset, UdpView* udp) {
  if (type != kEtherTypeIpv4) return FrameResult::kNotIpv4;
  return DecodeIpv4(data + offset, captured - offset, udp);
}

uint32_t Sum16(const uint8_t* data, size_t size, uint32_t sum) {
  for (size_t i = 0; i + 1 < size; i += 2) sum += Big16(data + i);
  if (size % 2 != 0) sum += static_cast<uint32_t>(data[size - 1]) << 8;
  return sum;
}

uint16_t Fold(uint32_t sum) {
  while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

}  // namespace

bool KnownLinkType(uint32_t linkType) {
  switch (linkType) {
    case kLinkTypeNull:
    case kLinkTypeEthernet:
    case kLinkTypeRawDlt12:
    case kLinkTypeRawDlt14:
    case kLinkTypeRaw:
    case kLinkTypeLoop:
    case kLinkTypeLinuxSll:
    case kLinkTypeIpv4:
    case kLinkTypeLinuxSll2:
      return true;
    default:
      return false;
  }
}

const char* FrameResultName(FrameResult result) {
  switch (result) {
    case FrameResult::kUdp:
      return "udp";
    case FrameResult::kNotIpv4:
      return "not-ipv4";
    case FrameResult::kNotUdp:
      return "not-udp";
    case FrameResult::kFragment:
      return "fragment";
    case FrameResult::kTruncated:
      return "truncated";
    case FrameResult::kMalformed:
      return "malformed";
    case FrameResult::kUnknownLink:
      return "unknown-link";
  }
  return "?";
}

FrameResult DecodeCapturedFrame(uint32_t linkType, const uint8_t* data, size_t captured, UdpView* udp) {
  if (data == nullptr) captured = 0;
  size_t offset = 0;
  uint16_t type = 0;
  FrameResult result = FrameResult::kUdp;
  switch (linkType) {
    case kLinkTypeEthernet:
      offset = 12;  // destination and source addresses
      result = SkipTags(data, captured, &offset, &type);
      if (result != FrameResult::kUdp) return result;
      return DecodeNetwork(type, data, captured, offset, udp);
    case kLinkTypeLinuxSll:
      // Packet type, ARPHRD type, address length, 8 address bytes, protocol.
      offset = 14;
      result = SkipTags(data, captured, &offset, &type);
      if (result != FrameResult::kUdp) return result;
      return DecodeNetwork(type, data, captured, offset, udp);
    case kLinkTypeLinuxSll2:
      // Protocol, reserved, interface index, ARPHRD type, packet type,
      // address length, 8 address bytes: 20 bytes, then any tags.
      if (captured < 20) return FrameResult::kTruncated;
      type = Big16(data);
      offset = 20;
      result = WalkTags(data, captured, &offset, &type);
      if (result != FrameResult::kUdp) return result;
      return DecodeNetwork(type, data, captured, offset, udp);
    case kLinkTypeRaw:
    case kLinkTypeRawDlt12:
    case kLinkTypeRawDlt14:
    case kLinkTypeIpv4:
      if (captured < 1) return FrameResult::kTruncated;
      if ((data[0] >> 4) == 6) return FrameResult::kNotIpv4;
      return DecodeIpv4(data, captured, udp);
    case kLinkTypeNull:
    case kLinkTypeLoop: {
      // The address family in four bytes: host order of the capturing
      // machine for NULL, network order for LOOP. AF_INET is 2 everywhere.
      if (captured < 4) return FrameResult::kTruncated;
      uint32_t family = Big32(data);
      if (family != 2 && family != 0x02000000) return FrameResult::kNotIpv4;
      return DecodeIpv4(data + 4, captured - 4, udp);
    }
    default:
      return FrameResult::kUnknownLink;
  }
}

size_t BuildIpv4Udp(uint32_t source, uint32_t destination, uint16_t sourcePort, uint16_t destinationPort, uint16_t id,
                    const uint8_t* payload, size_t size, uint8_t* out, size_t capacity) {
  if (size > 65535 - kIpv4UdpHeaderSize || capacity < kIpv4UdpHeaderSize + size) return 0;
  if (size > 0 && payload == nullptr) return 0;
  uint16_t total = static_cast<uint16_t>(kIpv4UdpHeaderSize + size);
  uint8_t* ip = out;
  std::memset(ip, 0, 20);
  ip[0] = 0x45;
  PutBig16(ip + 2, total);
  PutBig16(ip + 4, id);
  PutBig16(ip + 6, 0x4000);  // don't fragment
  ip[8] = 64;
  ip[9] = kIpProtocolUdp;
  PutBig32(ip + 12, source);
  PutBig32(ip + 16, destination);
  PutBig16(ip + 10, Fold(Sum16(ip, 20, 0)));
  uint8_t* udp = out + 20;
  uint16_t udpLength = static_cast<uint16_t>(8 + size);
  PutBig16(udp, sourcePort);
  PutBig16(udp + 2, destinationPort);
  PutBig16(udp + 4, udpLength);
  PutBig16(udp + 6, 0);
  if (size > 0) std::memcpy(udp + 8, payload, size);
  // The pseudo-header: addresses, protocol and UDP length.
  uint32_t sum = Sum16(ip + 12, 8, 0) + kIpProtocolUdp + udpLength;
  uint16_t checksum = Fold(Sum16(udp, udpLength, sum));
  PutBig16(udp + 6, checksum == 0 ? 0xFFFF : checksum);
  return total;
}

}  // namespace ombrix::protocols
