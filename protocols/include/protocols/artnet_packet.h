// Art-Net 4 packets: parsing and building over byte spans.
//
// Every packet starts with "Art-Net\0" and a little-endian OpCode; the
// packets that carry a protocol version (ArtPoll, ArtDmx, ArtSync) need 14
// or later, sent big-endian. This node handles:
//   ArtPoll      0x2000  a controller looking for nodes (14 bytes or more)
//   ArtPollReply 0x2100  a node describing itself and up to four ports (239 bytes)
//   ArtDmx       0x5000  sequence, physical, SubUni, Net, big-endian length
//                        (1-512; should be even, odd taken too), the data
//   ArtSync      0x5200  "output the ArtDmx you hold now" (14 bytes)
//   ArtAddress   0x6000  a console re-programming a node: names, port
//                        switches, merge, fail-safe, identify (107 bytes)
// A port-address is 15 bits: Net (7 bits) : SubNet (4 bits) : Universe (4 bits).
//
// Parsed packets are views into the datagram, which must outlive them.
#ifndef OMBRIX_PROTOCOLS_ARTNET_PACKET_H
#define OMBRIX_PROTOCOLS_ARTNET_PACKET_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "drops.h"

namespace ombrix::protocols {

constexpr uint16_t kArtnetPort = 6454;
constexpr uint16_t kArtnetProtocolVersion = 14;
constexpr uint16_t kArtnetMaxPortAddress = 0x7FFF;
constexpr uint16_t kArtnetMaxDmxLength = 512;
constexpr size_t kArtDmxHeaderSize = 18;
constexpr size_t kArtDmxMaxSize = kArtDmxHeaderSize + kArtnetMaxDmxLength;  // 530
constexpr size_t kArtPollMinSize = 14;
constexpr size_t kArtPollFullSize = 22;  // with the Art-Net 4 target range and codes
constexpr size_t kArtPollReplySize = 239;
constexpr size_t kArtSyncSize = 14;
constexpr size_t kArtAddressSize = 107;
constexpr size_t kArtnetMaxPacketSize = kArtDmxMaxSize;  // a receive buffer that holds any we use

enum class ArtOpCode : uint16_t {
  kPoll = 0x2000,
  kPollReply = 0x2100,
  kDmx = 0x5000,
  kSync = 0x5200,
  kAddress = 0x6000,
};

// ---- Port-addresses ----
constexpr uint16_t ArtnetPortAddress(uint8_t net, uint8_t subNet, uint8_t universe) {
  return static_cast<uint16_t>(((net & 0x7F) << 8) | ((subNet & 0x0F) << 4) | (universe & 0x0F));
}
constexpr uint8_t ArtnetNet(uint16_t portAddress) { return (portAddress >> 8) & 0x7F; }
constexpr uint8_t ArtnetSubNet(uint16_t portAddress) { return (portAddress >> 4) & 0x0F; }
constexpr uint8_t ArtnetUniverse(uint16_t portAddress) { return portAddress & 0x0F; }

// ---- Packets ----
struct ArtDmx {
  uint8_t sequence = 0;  // 0: the sender does not sequence; else 1-255 wrapping
  uint8_t physical = 0;  // the sender's input port: with its IP, what tells sources apart
  uint16_t portAddress = 0;
  const uint8_t* data = nullptr;
  uint16_t length = 0;  // 1-512
};

// ArtPoll flags.
constexpr uint8_t kArtPollFlagReplyOnChange = 0x02;
constexpr uint8_t kArtPollFlagDiagnostics = 0x04;
constexpr uint8_t kArtPollFlagDiagUnicast = 0x08;
constexpr uint8_t kArtPollFlagTargeted = 0x20;

struct ArtPoll {
  uint8_t flags = 0;
  uint8_t diagPriority = 0;
  // Targeted mode (flags & kArtPollFlagTargeted): only nodes with a port in
  // [targetBottom, targetTop] reply. Zero when the poll is too short to say.
  uint16_t targetTop = 0;
  uint16_t targetBottom = 0;
};

// Whether a node with these port-addresses answers the poll: always unless
// the poll is targeted and none of them lies in its range.
bool ArtPollAddresses(const ArtPoll& poll, const std::vector<uint16_t>& portAddresses);

// Port types (ArtPollReplyPort::portType): bit 7 the port outputs what it
// receives from the network, bit 6 it inputs to the network; the low bits
// name the protocol on the wire (0: DMX512).
constexpr uint8_t kArtPortOutput = 0x80;
constexpr uint8_t kArtPortInput = 0x40;
// GoodInput bits.
constexpr uint8_t kArtGoodInputDataReceived = 0x80;
// GoodOutputA bits.
constexpr uint8_t kArtGoodOutputDataTransmitted = 0x80;
constexpr uint8_t kArtGoodOutputMerging = 0x08;
// GoodOutputB bits: RDM disabled, output style continuous (a DMX interface
// refreshes its line without pause; 0 would claim delta output).
constexpr uint8_t kArtGoodOutputBRdmDisabled = 0x80;
constexpr uint8_t kArtGoodOutputBContinuous = 0x40;
// Status3 bits 7-6: what the outputs do when the network data is lost.
constexpr uint8_t kArtStatus3FailsafeHold = 0x00;
constexpr uint8_t kArtStatus3FailsafeZero = 0x40;
constexpr uint8_t kArtStatus3FailsafeFull = 0x80;
constexpr uint8_t kArtStatus3FailsafeScene = 0xC0;
// Status3 bit 5: the fail-safe can be set remotely (ArtAddress).
constexpr uint8_t kArtStatus3FailsafeProgrammable = 0x20;
// Status2: the node uses 15-bit port-addresses.
constexpr uint8_t kArtStatus2PortAddress15Bit = 0x08;

struct ArtPollReplyPort {
  uint8_t portType = 0;
  uint8_t goodInput = 0;
  uint8_t goodOutputA = 0;
  uint8_t goodOutputB = 0;
  uint8_t swIn = 0;   // low nibble: Universe of the port's input port-address
  uint8_t swOut = 0;  // low nibble: Universe of the port's output port-address
};

struct ArtPollReply {
  std::array<uint8_t, 4> ip{};
  uint16_t port = kArtnetPort;  // sent little-endian
  uint16_t versionInfo = 0;     // the node's firmware/software version
  uint8_t netSwitch = 0;        // Net shared by this reply's ports
  uint8_t subSwitch = 0;        // SubNet shared by this reply's ports
  uint16_t oem = 0x00FF;        // "OEM unknown"
  uint8_t ubeaVersion = 0;
  uint8_t status1 = 0xD0;  // indicators normal, port-addresses set locally
  uint16_t estaManufacturer = 0;
  std::string shortName;   // at most 17 bytes sent (NUL-terminated in 18)
  std::string longName;    // at most 63 bytes sent
  std::string nodeReport;  // at most 63 bytes sent, e.g. "#0001 [0042] OK"
  uint8_t portCount = 0;   // 0-4
  std::array<ArtPollReplyPort, 4> ports{};
  uint8_t acnPriority = 0;
  uint8_t style = 0;  // 0: StNode
  std::array<uint8_t, 6> mac{};
  std::array<uint8_t, 4> bindIp{};
  uint8_t bindIndex = 1;  // 1 for the first reply of a node, 2, 3 ... for the next
  uint8_t status2 = kArtStatus2PortAddress15Bit;
  uint8_t status3 = 0;
};

struct ArtSync {};

// ArtAddress switches: a value is programmed only with bit 7 set (its low
// bits the value); 0x7F means no change, 0x00 back to the node's own
// setting. Either way the switch has these bits.
constexpr uint8_t kArtSwitchProgram = 0x80;
constexpr uint8_t kArtSwitchNoChange = 0x7F;
constexpr uint8_t kArtSwitchReset = 0x00;

// ArtAddress commands (the port-specific ones add the port index 0-3).
enum class ArtAddressCommand : uint8_t {
  kNone = 0x00,
  kCancelMerge = 0x01,
  kLedNormal = 0x02,
  kLedMute = 0x03,
  kLedLocate = 0x04,
  kResetRxFlags = 0x05,
  kFailHold = 0x08,
  kFailZero = 0x09,
  kFailFull = 0x0A,
  kFailScene = 0x0B,
  kFailRecord = 0x0C,
  kMergeLtp0 = 0x10,   // ... 0x13
  kMergeHtp0 = 0x50,   // ... 0x53
  kArtNetSel0 = 0x60,  // ... 0x63
  kAcnSel0 = 0x70,     // ... 0x73
  kClearOp0 = 0x90,    // ... 0x93
};

struct ArtAddress {
  uint8_t netSwitch = kArtSwitchNoChange;
  uint8_t bindIndex = 1;  // which of the node's replies (pages of four ports); 0 counts as 1
  std::string shortName;  // empty: no change
  std::string longName;   // empty: no change
  std::array<uint8_t, 4> swIn{kArtSwitchNoChange, kArtSwitchNoChange, kArtSwitchNoChange, kArtSwitchNoChange};
  std::array<uint8_t, 4> swOut{kArtSwitchNoChange, kArtSwitchNoChange, kArtSwitchNoChange, kArtSwitchNoChange};
  uint8_t subSwitch = kArtSwitchNoChange;
  uint8_t acnPriority = 255;  // 255: no change
  uint8_t command = 0;        // an ArtAddressCommand, or one this node does not know
};

using ArtnetPacket = std::variant<DropKind, ArtDmx, ArtPoll, ArtPollReply, ArtSync, ArtAddress>;

// Parses one UDP payload. Never reads outside [data, data + size).
//   Shorter than the header, or than its kind's fixed part, or than the
//   ArtDmx length: kTruncated. Bytes after an ArtDmx's data are ignored.
//   Not "Art-Net\0": kBadIdentifier. Protocol version below 14:
//   kBadProtocolVersion. Any OpCode but the four above: kUnsupportedOpCode.
//   ArtDmx length 0 or above 512: kDmxLengthOutOfRange (odd lengths are
//   taken).
ArtnetPacket ParseArtnet(const uint8_t* data, size_t size);

// Builders write one packet and return its size, or 0 when capacity is too
// small or a field is out of range (ArtDmx length 0 or above 512, or
// data null; port-address above 32767; more than 4 ports).
size_t BuildArtDmx(const ArtDmx& packet, uint8_t* out, size_t capacity);
size_t BuildArtPoll(const ArtPoll& packet, uint8_t* out, size_t capacity);  // 22 bytes
size_t BuildArtPollReply(const ArtPollReply& packet, uint8_t* out, size_t capacity);
size_t BuildArtSync(uint8_t* out, size_t capacity);
size_t BuildArtAddress(const ArtAddress& packet, uint8_t* out, size_t capacity);  // 107 bytes

// One port of the node as the bridge maps it.
struct ArtnetNodePort {
  uint16_t portAddress = 0;
  bool output = false;      // network -> interface output
  bool input = false;       // interface input -> network
  bool outputGood = false;  // data is going out of the interface
  bool inputGood = false;   // data is coming in from the interface
  bool merging = false;     // two sources merged on the output
};

// The replies that describe the node: node's fields (ip, names, codes,
// status) are copied into each; ports that share Net and SubNet go four to a
// reply in the order given, with netSwitch/subSwitch/swIn/swOut set from
// their port-addresses, port types and good bits from their flags, and bind
// index 1, 2, 3 ... (bindIp = node.ip). No ports: one reply with none.
std::vector<ArtPollReply> ArtPollRepliesFor(const ArtPollReply& node, const std::vector<ArtnetNodePort>& ports);

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_ARTNET_PACKET_H
