// Art-Net datagram parser.
#include <cstring>

#include "protocols/artnet_layout.h"
#include "protocols/artnet_packet.h"
#include "protocols/byte_order.h"

namespace ombrix::protocols {
namespace {

using namespace artnet;
using bytes::Big16;

ArtnetPacket ParseDmx(const uint8_t* data, size_t size) {
  if (size < kArtDmxHeaderSize) return DropKind::kTruncated;
  uint16_t length = Big16(data + kDmxLength);
  if (length == 0 || length > kArtnetMaxDmxLength) return DropKind::kDmxLengthOutOfRange;
  // Art-Net 4 says the length should be even; controllers that send odd
  // counts exist and a node takes what they give. Bytes after the data
  // (padding some controllers add) are ignored; a length the datagram does
  // not hold is a cut packet.
  if (size < kDmxData + length) return DropKind::kTruncated;
  ArtDmx packet;
  packet.sequence = data[kDmxSequence];
  packet.physical = data[kDmxPhysical];
  packet.portAddress = static_cast<uint16_t>(((data[kDmxNet] & 0x7F) << 8) | data[kDmxSubUni]);
  packet.data = data + kDmxData;
  packet.length = length;
  return packet;
}

ArtnetPacket ParsePoll(const uint8_t* data, size_t size) {
  if (size < kArtPollMinSize) return DropKind::kTruncated;
  ArtPoll packet;
  packet.flags = data[kPollFlags];
  packet.diagPriority = data[kPollDiagPriority];
  if (size >= kPollTargetBottom + 2) {
    packet.targetTop = Big16(data + kPollTargetTop);
    packet.targetBottom = Big16(data + kPollTargetBottom);
  }
  return packet;
}

std::string Text(const uint8_t* data, size_t size) { return std::string(bytes::TextField(data, size)); }

ArtnetPacket ParsePollReply(const uint8_t* data, size_t size) {
  if (size < kReplyMinSize) return DropKind::kTruncated;
  ArtPollReply packet;
  std::memcpy(packet.ip.data(), data + kReplyIp, 4);
  packet.port = bytes::Little16(data + kReplyPort);
  packet.versionInfo = Big16(data + kReplyVersionInfo);
  packet.netSwitch = data[kReplyNetSwitch];
  packet.subSwitch = data[kReplySubSwitch];
  packet.oem = Big16(data + kReplyOem);
  packet.ubeaVersion = data[kReplyUbeaVersion];
  packet.status1 = data[kReplyStatus1];
  packet.estaManufacturer = bytes::Little16(data + kReplyEstaManufacturer);
  packet.shortName = Text(data + kReplyShortName, kReplyShortNameBytes);
  packet.longName = Text(data + kReplyLongName, kReplyLongNameBytes);
  packet.nodeReport = Text(data + kReplyNodeReport, kReplyNodeReportBytes);
  uint16_t ports = Big16(data + kReplyNumPorts);
  packet.portCount = static_cast<uint8_t>(ports > 4 ? 4 : ports);
  for (size_t i = 0; i < 4; ++i) {
    ArtPollReplyPort& port = packet.ports[i];
    port.portType = data[kReplyPortTypes + i];
    port.goodInput = data[kReplyGoodInput + i];
    port.goodOutputA = data[kReplyGoodOutputA + i];
    port.swIn = data[kReplySwIn + i];
    port.swOut = data[kReplySwOut + i];
    if (size >= kReplyGoodOutputB + 4) port.goodOutputB = data[kReplyGoodOutputB + i];
  }
  packet.acnPriority = data[kReplyAcnPriority];
  packet.style = data[kReplyStyle];
  std::memcpy(packet.mac.data(), data + kReplyMac, 6);
  // The Art-Net 4 fields, when the reply is long enough to carry them.
  packet.bindIp = {};
  packet.bindIndex = 0;
  packet.status2 = 0;
  if (size >= kReplyBindIp + 4) std::memcpy(packet.bindIp.data(), data + kReplyBindIp, 4);
  if (size > kReplyBindIndex) packet.bindIndex = data[kReplyBindIndex];
  if (size > kReplyStatus2) packet.status2 = data[kReplyStatus2];
  if (size > kReplyStatus3) packet.status3 = data[kReplyStatus3];
  return packet;
}

ArtnetPacket ParseAddress(const uint8_t* data, size_t size) {
  if (size < kArtAddressSize) return DropKind::kTruncated;
  ArtAddress packet;
  packet.netSwitch = data[kAddressNetSwitch];
  packet.bindIndex = data[kAddressBindIndex];
  packet.shortName = Text(data + kAddressShortName, kReplyShortNameBytes);
  packet.longName = Text(data + kAddressLongName, kReplyLongNameBytes);
  std::memcpy(packet.swIn.data(), data + kAddressSwIn, 4);
  std::memcpy(packet.swOut.data(), data + kAddressSwOut, 4);
  packet.subSwitch = data[kAddressSubSwitch];
  packet.acnPriority = data[kAddressAcnPriority];
  packet.command = data[kAddressCommand];
  return packet;
}

}  // namespace

ArtnetPacket ParseArtnet(const uint8_t* data, size_t size) {
  if (size < sizeof kIdentifier) return DropKind::kTruncated;
  if (std::memcmp(data, kIdentifier, sizeof kIdentifier) != 0) return DropKind::kBadIdentifier;
  if (size < kOpCode + 2) return DropKind::kTruncated;
  uint16_t opCode = bytes::Little16(data + kOpCode);
  if (opCode == static_cast<uint16_t>(ArtOpCode::kPollReply)) return ParsePollReply(data, size);
  bool known = opCode == static_cast<uint16_t>(ArtOpCode::kPoll) || opCode == static_cast<uint16_t>(ArtOpCode::kDmx) ||
               opCode == static_cast<uint16_t>(ArtOpCode::kSync) ||
               opCode == static_cast<uint16_t>(ArtOpCode::kAddress);
  if (!known) return DropKind::kUnsupportedOpCode;
  if (size < kProtocolVersion + 2) return DropKind::kTruncated;
  if (Big16(data + kProtocolVersion) < kArtnetProtocolVersion) return DropKind::kBadProtocolVersion;
  switch (static_cast<ArtOpCode>(opCode)) {
    case ArtOpCode::kDmx:
      return ParseDmx(data, size);
    case ArtOpCode::kPoll:
      return ParsePoll(data, size);
    case ArtOpCode::kAddress:
      return ParseAddress(data, size);
    default:
      break;
  }
  if (size < kArtSyncSize) return DropKind::kTruncated;
  return ArtSync{};
}

bool ArtPollAddresses(const ArtPoll& poll, const std::vector<uint16_t>& portAddresses) {
  if ((poll.flags & kArtPollFlagTargeted) == 0) return true;
  for (uint16_t address : portAddresses) {
    if (address >= poll.targetBottom && address <= poll.targetTop) return true;
  }
  return false;
}

}  // namespace ombrix::protocols
