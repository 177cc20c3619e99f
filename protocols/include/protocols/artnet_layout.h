// Byte offsets of the Art-Net packets, shared by the parser and the
// builders. Internal to the codecs.
#ifndef OMBRIX_PROTOCOLS_ARTNET_LAYOUT_H
#define OMBRIX_PROTOCOLS_ARTNET_LAYOUT_H

#include <cstddef>
#include <cstdint>

namespace ombrix::protocols::artnet {

constexpr uint8_t kIdentifier[8] = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr size_t kOpCode = 8;            // little-endian
constexpr size_t kProtocolVersion = 10;  // big-endian (ProtVerHi, ProtVerLo)

// ArtDmx
constexpr size_t kDmxSequence = 12;
constexpr size_t kDmxPhysical = 13;
constexpr size_t kDmxSubUni = 14;
constexpr size_t kDmxNet = 15;
constexpr size_t kDmxLength = 16;  // big-endian
constexpr size_t kDmxData = 18;

// ArtPoll
constexpr size_t kPollFlags = 12;
constexpr size_t kPollDiagPriority = 13;
constexpr size_t kPollTargetTop = 14;     // big-endian
constexpr size_t kPollTargetBottom = 16;  // big-endian
constexpr size_t kPollEstaManufacturer = 18;
constexpr size_t kPollOem = 20;

// ArtPollReply
constexpr size_t kReplyIp = 10;
constexpr size_t kReplyPort = 14;         // little-endian
constexpr size_t kReplyVersionInfo = 16;  // big-endian
constexpr size_t kReplyNetSwitch = 18;
constexpr size_t kReplySubSwitch = 19;
constexpr size_t kReplyOem = 20;  // big-endian
constexpr size_t kReplyUbeaVersion = 22;
constexpr size_t kReplyStatus1 = 23;
constexpr size_t kReplyEstaManufacturer = 24;  // little-endian (EstaManLo first)
constexpr size_t kReplyShortName = 26;
constexpr size_t kReplyShortNameBytes = 18;
constexpr size_t kReplyLongName = 44;
constexpr size_t kReplyLongNameBytes = 64;
constexpr size_t kReplyNodeReport = 108;
constexpr size_t kReplyNodeReportBytes = 64;
constexpr size_t kReplyNumPorts = 172;  // big-endian
constexpr size_t kReplyPortTypes = 174;
constexpr size_t kReplyGoodInput = 178;
constexpr size_t kReplyGoodOutputA = 182;
constexpr size_t kReplySwIn = 186;
constexpr size_t kReplySwOut = 190;
constexpr size_t kReplyAcnPriority = 194;
constexpr size_t kReplyStyle = 200;
constexpr size_t kReplyMac = 201;
constexpr size_t kReplyBindIp = 207;
constexpr size_t kReplyBindIndex = 211;
constexpr size_t kReplyStatus2 = 212;
constexpr size_t kReplyGoodOutputB = 213;
constexpr size_t kReplyStatus3 = 217;
// Replies from Art-Net 3 nodes and older end after the MAC address.
constexpr size_t kReplyMinSize = 207;

// ArtAddress
constexpr size_t kAddressNetSwitch = 12;
constexpr size_t kAddressBindIndex = 13;
constexpr size_t kAddressShortName = 14;  // 18 bytes
constexpr size_t kAddressLongName = 32;   // 64 bytes
constexpr size_t kAddressSwIn = 96;
constexpr size_t kAddressSwOut = 100;
constexpr size_t kAddressSubSwitch = 104;
constexpr size_t kAddressAcnPriority = 105;
constexpr size_t kAddressCommand = 106;

}  // namespace ombrix::protocols::artnet

#endif  // OMBRIX_PROTOCOLS_ARTNET_LAYOUT_H
