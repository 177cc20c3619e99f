// Art-Net packet builders and the split of a node's ports into poll replies.
#include <cstring>

#include "protocols/artnet_layout.h"
#include "protocols/artnet_packet.h"
#include "protocols/byte_order.h"

namespace ombrix::protocols {
namespace {

using namespace artnet;
using bytes::PutBig16;

// Identifier, OpCode and, for the packets that have one, the protocol version.
void PutHeader(uint8_t* out, size_t size, ArtOpCode opCode, bool withVersion) {
  std::memset(out, 0, size);
  std::memcpy(out, kIdentifier, sizeof kIdentifier);
  bytes::PutLittle16(out + kOpCode, static_cast<uint16_t>(opCode));
  if (withVersion) PutBig16(out + kProtocolVersion, kArtnetProtocolVersion);
}

}  // namespace

size_t BuildArtDmx(const ArtDmx& packet, uint8_t* out, size_t capacity) {
  if (packet.length == 0 || packet.length > kArtnetMaxDmxLength) return 0;
  if (!packet.data || packet.portAddress > kArtnetMaxPortAddress) return 0;
  size_t size = kDmxData + packet.length;
  if (!out || capacity < size) return 0;
  PutHeader(out, kDmxData, ArtOpCode::kDmx, true);
  out[kDmxSequence] = packet.sequence;
  out[kDmxPhysical] = packet.physical;
  out[kDmxSubUni] = static_cast<uint8_t>(packet.portAddress & 0xFF);
  out[kDmxNet] = static_cast<uint8_t>(packet.portAddress >> 8);
  PutBig16(out + kDmxLength, packet.length);
  std::memcpy(out + kDmxData, packet.data, packet.length);
  return size;
}

size_t BuildArtPoll(const ArtPoll& packet, uint8_t* out, size_t capacity) {
  if (!out || capacity < kArtPollFullSize) return 0;
  PutHeader(out, kArtPollFullSize, ArtOpCode::kPoll, true);
  out[kPollFlags] = packet.flags;
  out[kPollDiagPriority] = packet.diagPriority;
  PutBig16(out + kPollTargetTop, packet.targetTop);
  PutBig16(out + kPollTargetBottom, packet.targetBottom);
  return kArtPollFullSize;  // ESTA manufacturer and OEM codes stay 0
}

size_t BuildArtPollReply(const ArtPollReply& packet, uint8_t* out, size_t capacity) {
  if (packet.portCount > 4) return 0;
  if (!out || capacity < kArtPollReplySize) return 0;
  PutHeader(out, kArtPollReplySize, ArtOpCode::kPollReply, false);
  std::memcpy(out + kReplyIp, packet.ip.data(), 4);
  bytes::PutLittle16(out + kReplyPort, packet.port);
  PutBig16(out + kReplyVersionInfo, packet.versionInfo);
  out[kReplyNetSwitch] = packet.netSwitch & 0x7F;
  out[kReplySubSwitch] = packet.subSwitch & 0x0F;
  PutBig16(out + kReplyOem, packet.oem);
  out[kReplyUbeaVersion] = packet.ubeaVersion;
  out[kReplyStatus1] = packet.status1;
  bytes::PutLittle16(out + kReplyEstaManufacturer, packet.estaManufacturer);
  bytes::PutTextField(out + kReplyShortName, kReplyShortNameBytes, packet.shortName);
  bytes::PutTextField(out + kReplyLongName, kReplyLongNameBytes, packet.longName);
  bytes::PutTextField(out + kReplyNodeReport, kReplyNodeReportBytes, packet.nodeReport);
  PutBig16(out + kReplyNumPorts, packet.portCount);
  for (size_t i = 0; i < packet.portCount; ++i) {
    const ArtPollReplyPort& port = packet.ports[i];
    out[kReplyPortTypes + i] = port.portType;
    out[kReplyGoodInput + i] = port.goodInput;
    out[kReplyGoodOutputA + i] = port.goodOutputA;
    out[kReplyGoodOutputB + i] = port.goodOutputB;
    out[kReplySwIn + i] = port.swIn & 0x0F;
    out[kReplySwOut + i] = port.swOut & 0x0F;
  }
  out[kReplyAcnPriority] = packet.acnPriority;
  out[kReplyStyle] = packet.style;
  std::memcpy(out + kReplyMac, packet.mac.data(), 6);
  std::memcpy(out + kReplyBindIp, packet.bindIp.data(), 4);
  out[kReplyBindIndex] = packet.bindIndex;
  out[kReplyStatus2] = packet.status2;
  out[kReplyStatus3] = packet.status3;
  return kArtPollReplySize;
}

size_t BuildArtSync(uint8_t* out, size_t capacity) {
  if (!out || capacity < kArtSyncSize) return 0;
  PutHeader(out, kArtSyncSize, ArtOpCode::kSync, true);
  return kArtSyncSize;  // Aux1 and Aux2 stay 0
}

size_t BuildArtAddress(const ArtAddress& packet, uint8_t* out, size_t capacity) {
  if (!out || capacity < kArtAddressSize) return 0;
  PutHeader(out, kArtAddressSize, ArtOpCode::kAddress, true);
  out[kAddressNetSwitch] = packet.netSwitch;
  out[kAddressBindIndex] = packet.bindIndex;
  bytes::PutTextField(out + kAddressShortName, kReplyShortNameBytes, packet.shortName);
  bytes::PutTextField(out + kAddressLongName, kReplyLongNameBytes, packet.longName);
  std::memcpy(out + kAddressSwIn, packet.swIn.data(), 4);
  std::memcpy(out + kAddressSwOut, packet.swOut.data(), 4);
  out[kAddressSubSwitch] = packet.subSwitch;
  out[kAddressAcnPriority] = packet.acnPriority;
  out[kAddressCommand] = packet.command;
  return kArtAddressSize;
}

namespace {

ArtPollReplyPort DescribePort(const ArtnetNodePort& port) {
  ArtPollReplyPort described;
  described.portType = static_cast<uint8_t>((port.output ? kArtPortOutput : 0) | (port.input ? kArtPortInput : 0));
  // This node speaks no RDM, and an interface's line is refreshed
  // continuously whatever the network sends.
  described.goodOutputB = kArtGoodOutputBRdmDisabled | kArtGoodOutputBContinuous;
  if (port.input) {
    described.swIn = ArtnetUniverse(port.portAddress);
    if (port.inputGood) described.goodInput = kArtGoodInputDataReceived;
  }
  if (port.output) {
    described.swOut = ArtnetUniverse(port.portAddress);
    described.goodOutputA = static_cast<uint8_t>((port.outputGood ? kArtGoodOutputDataTransmitted : 0) |
                                                 (port.merging ? kArtGoodOutputMerging : 0));
  }
  return described;
}

}  // namespace

std::vector<ArtPollReply> ArtPollRepliesFor(const ArtPollReply& node, const std::vector<ArtnetNodePort>& ports) {
  // Group by Net:SubNet (the part of the port-address a reply shares) in
  // first-seen order, then cut each group into replies of four ports.
  std::vector<std::vector<const ArtnetNodePort*>> groups;
  for (const ArtnetNodePort& port : ports) {
    uint16_t shared = port.portAddress & 0x7FF0;
    auto group = groups.begin();
    while (group != groups.end() && ((*group)[0]->portAddress & 0x7FF0) != shared) ++group;
    if (group == groups.end()) {
      groups.emplace_back();
      group = groups.end() - 1;
    }
    group->push_back(&port);
  }

  std::vector<ArtPollReply> replies;
  auto startReply = [&](uint16_t portAddress) -> ArtPollReply& {
    replies.push_back(node);
    ArtPollReply& reply = replies.back();
    reply.netSwitch = ArtnetNet(portAddress);
    reply.subSwitch = ArtnetSubNet(portAddress);
    reply.portCount = 0;
    reply.ports = {};
    reply.bindIp = node.ip;
    reply.bindIndex = static_cast<uint8_t>(replies.size() > 255 ? 255 : replies.size());
    return reply;
  };
  for (const auto& group : groups) {
    for (size_t i = 0; i < group.size(); i += 4) {
      ArtPollReply& reply = startReply(group[i]->portAddress);
      for (size_t j = i; j < group.size() && j < i + 4; ++j) {
        reply.ports[reply.portCount++] = DescribePort(*group[j]);
      }
    }
  }
  if (replies.empty()) startReply(ArtnetPortAddress(node.netSwitch, node.subSwitch, 0));
  return replies;
}

}  // namespace ombrix::protocols
