// Art-Net codec against byte vectors written from Art-Net 4's packet layouts.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <variant>

#include "byte_vectors.h"
#include "protocols/artnet_packet.h"

namespace {

using namespace ombrix::protocols;
using ombrix_test::Bytes;
using ombrix_test::Hex;
using ombrix_test::Join;

const Bytes kId = Hex("41 72 74 2d 4e 65 74 00");  // "Art-Net\0"

// ArtDmx to Net 1, SubNet 2, Universe 3, sequence 5, four slots.
Bytes DmxVector() { return Join({kId, Hex("00 50  00 0e  05  00  23  01  00 04  01 02 03 04")}); }

template <typename T>
T ParseAs(const Bytes& bytes) {
  ArtnetPacket packet = ParseArtnet(bytes.data(), bytes.size());
  if (auto* drop = std::get_if<DropKind>(&packet)) {
    ADD_FAILURE() << "dropped as " << DropKindName(*drop);
    return T{};
  }
  EXPECT_TRUE(std::holds_alternative<T>(packet));
  return std::holds_alternative<T>(packet) ? std::get<T>(packet) : T{};
}

DropKind DropOf(const Bytes& bytes) {
  ArtnetPacket packet = ParseArtnet(bytes.data(), bytes.size());
  EXPECT_TRUE(std::holds_alternative<DropKind>(packet));
  return std::holds_alternative<DropKind>(packet) ? std::get<DropKind>(packet) : DropKind::kCount;
}

TEST(ArtnetPacket, PortAddressParts) {
  EXPECT_EQ(ArtnetPortAddress(1, 2, 3), 0x0123);
  EXPECT_EQ(ArtnetPortAddress(127, 15, 15), 0x7FFF);
  EXPECT_EQ(ArtnetNet(0x7ABC), 0x7A);
  EXPECT_EQ(ArtnetSubNet(0x7ABC), 0x0B);
  EXPECT_EQ(ArtnetUniverse(0x7ABC), 0x0C);
}

TEST(ArtnetPacket, DmxVectorParsesAndBuildsByteExact) {
  Bytes vector = DmxVector();
  ArtDmx dmx = ParseAs<ArtDmx>(vector);
  EXPECT_EQ(dmx.sequence, 5);
  EXPECT_EQ(dmx.physical, 0);
  EXPECT_EQ(dmx.portAddress, 0x0123);
  ASSERT_EQ(dmx.length, 4);
  EXPECT_EQ(Bytes(dmx.data, dmx.data + 4), Hex("01 02 03 04"));
  std::array<uint8_t, kArtnetMaxPacketSize> out{};
  size_t size = BuildArtDmx(dmx, out.data(), out.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), vector);

  // The top bit of Net is not part of a port-address.
  vector[15] = 0x81;
  EXPECT_EQ(ParseAs<ArtDmx>(vector).portAddress, 0x0123);
}

TEST(ArtnetPacket, PollAndSyncVectors) {
  // Targeted poll for port-addresses 0x0010 to 0x0020, with the Art-Net 4
  // ESTA and OEM fields zero.
  Bytes poll = Join({kId, Hex("00 20  00 0e  20  10  00 20  00 10  00 00  00 00")});
  ArtPoll parsed = ParseAs<ArtPoll>(poll);
  EXPECT_EQ(parsed.flags, kArtPollFlagTargeted);
  EXPECT_EQ(parsed.diagPriority, 0x10);
  EXPECT_EQ(parsed.targetTop, 0x0020);
  EXPECT_EQ(parsed.targetBottom, 0x0010);
  std::array<uint8_t, 64> out{};
  size_t size = BuildArtPoll(parsed, out.data(), out.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), poll);

  EXPECT_TRUE(ArtPollAddresses(parsed, {0x0005, 0x0010}));
  EXPECT_TRUE(ArtPollAddresses(parsed, {0x0020}));
  EXPECT_FALSE(ArtPollAddresses(parsed, {0x000F, 0x0021}));
  parsed.flags = 0;
  EXPECT_TRUE(ArtPollAddresses(parsed, {0x0500}));

  // The short poll of older controllers: 14 bytes, not targeted.
  Bytes shortPoll = Join({kId, Hex("00 20  00 0e  02  00")});
  EXPECT_EQ(ParseAs<ArtPoll>(shortPoll).flags, kArtPollFlagReplyOnChange);

  Bytes sync = Join({kId, Hex("00 52  00 0e  00 00")});
  EXPECT_TRUE(std::holds_alternative<ArtSync>(ParseArtnet(sync.data(), sync.size())));
  size = BuildArtSync(out.data(), out.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), sync);
}

// The reply of a node at 10.0.0.5 with two ports on Net 1, SubNet 2: port-
// address 0x0123 both ways with data in and merged data out, 0x0124 out only.
Bytes PollReplyVector() {
  Bytes v(239, 0);
  std::memcpy(v.data(), kId.data(), 8);
  v[8] = 0x00, v[9] = 0x21;                            // OpCode 0x2100
  v[10] = 10, v[11] = 0, v[12] = 0, v[13] = 5;         // IP
  v[14] = 0x36, v[15] = 0x19;                          // port 6454, low byte first
  v[16] = 0x01, v[17] = 0x02;                          // VersInfo
  v[18] = 0x01, v[19] = 0x02;                          // NetSwitch, SubSwitch
  v[20] = 0x00, v[21] = 0xFF;                          // OEM
  v[23] = 0xD0;                                        // Status1
  v[24] = 0xF0, v[25] = 0x7F;                          // ESTA code 0x7FF0, low byte first
  std::memcpy(v.data() + 26, "Ombrix", 6);             // ShortName[18]
  std::memcpy(v.data() + 44, "Ombrix bridge", 13);     // LongName[64]
  std::memcpy(v.data() + 108, "#0001 [0001] OK", 15);  // NodeReport[64]
  v[172] = 0, v[173] = 2;                              // NumPorts
  v[174] = 0xC0, v[175] = 0x80;                        // PortTypes
  v[178] = 0x80;                                       // GoodInput
  v[182] = 0x88, v[183] = 0x00;                        // GoodOutputA
  v[186] = 0x03;                                       // SwIn
  v[190] = 0x03, v[191] = 0x04;                        // SwOut
  v[201] = 0x02, v[206] = 0x01;                        // MAC 02:00:00:00:00:01
  v[207] = 10, v[210] = 5;                             // BindIp
  v[211] = 1;                                          // BindIndex
  v[212] = 0x08;                                       // Status2: 15-bit port-addresses
  v[213] = 0xC0, v[214] = 0xC0;                        // GoodOutputB: no RDM, continuous output
  return v;
}

ArtPollReply NodeTemplate() {
  ArtPollReply node;
  node.ip = {10, 0, 0, 5};
  node.versionInfo = 0x0102;
  node.estaManufacturer = 0x7FF0;
  node.shortName = "Ombrix";
  node.longName = "Ombrix bridge";
  node.nodeReport = "#0001 [0001] OK";
  node.mac = {0x02, 0, 0, 0, 0, 0x01};
  return node;
}

TEST(ArtnetPacket, AddressVectorParsesAndBuildsByteExact) {
  // Bind index 2: Net programmed to 1, SubNet left, output 1 to universe
  // 3, the rest unchanged; a new short name; "merge output 0 LTP".
  Bytes name = Join({Hex("54 72 75 73 73 20 4c"), Bytes(11, 0)});  // "Truss L"
  Bytes vector =
      Join({kId, Hex("00 60  00 0e  81  02"), name, Bytes(64, 0), Hex("7f 7f 7f 7f  7f 83 7f 7f  7f  ff  10")});
  ASSERT_EQ(vector.size(), kArtAddressSize);
  ArtAddress address = ParseAs<ArtAddress>(vector);
  EXPECT_EQ(address.netSwitch, kArtSwitchProgram | 1);
  EXPECT_EQ(address.bindIndex, 2);
  EXPECT_EQ(address.shortName, "Truss L");
  EXPECT_EQ(address.longName, "");
  EXPECT_EQ(address.swOut[1], kArtSwitchProgram | 3);
  EXPECT_EQ(address.swIn[0], kArtSwitchNoChange);
  EXPECT_EQ(address.subSwitch, kArtSwitchNoChange);
  EXPECT_EQ(address.command, static_cast<uint8_t>(ArtAddressCommand::kMergeLtp0));
  std::array<uint8_t, kArtAddressSize> out{};
  EXPECT_EQ(BuildArtAddress(address, out.data(), out.size()), kArtAddressSize);
  EXPECT_EQ(Bytes(out.begin(), out.end()), vector);
  vector.pop_back();
  EXPECT_EQ(DropOf(vector), DropKind::kTruncated);
}

TEST(ArtnetPacket, PollReplyVectorFromNodeAndPorts) {
  ArtnetNodePort both;
  both.portAddress = 0x0123;
  both.output = both.input = true;
  both.outputGood = both.inputGood = both.merging = true;
  ArtnetNodePort outOnly;
  outOnly.portAddress = 0x0124;
  outOnly.output = true;
  std::vector<ArtPollReply> replies = ArtPollRepliesFor(NodeTemplate(), {both, outOnly});
  ASSERT_EQ(replies.size(), 1u);
  std::array<uint8_t, kArtPollReplySize> out{};
  ASSERT_EQ(BuildArtPollReply(replies[0], out.data(), out.size()), kArtPollReplySize);
  Bytes vector = PollReplyVector();
  for (size_t i = 0; i < vector.size(); ++i) EXPECT_EQ(out[i], vector[i]) << "offset " << i;

  ArtPollReply parsed = ParseAs<ArtPollReply>(vector);
  EXPECT_EQ(parsed.ip, (std::array<uint8_t, 4>{10, 0, 0, 5}));
  EXPECT_EQ(parsed.port, kArtnetPort);
  EXPECT_EQ(parsed.estaManufacturer, 0x7FF0);
  EXPECT_EQ(parsed.shortName, "Ombrix");
  EXPECT_EQ(parsed.longName, "Ombrix bridge");
  EXPECT_EQ(parsed.portCount, 2);
  EXPECT_EQ(parsed.ports[1].swOut, 4);
  EXPECT_EQ(parsed.bindIndex, 1);
}

TEST(ArtnetPacket, RepliesGroupPortsByNetAndSubNetFourAtATime) {
  std::vector<ArtnetNodePort> ports;
  for (uint16_t address : {0x0000, 0x0110, 0x0001, 0x0002, 0x0003, 0x0004}) {
    ArtnetNodePort port;
    port.portAddress = address;
    port.output = true;
    ports.push_back(port);
  }
  std::vector<ArtPollReply> replies = ArtPollRepliesFor(NodeTemplate(), ports);
  ASSERT_EQ(replies.size(), 3u);
  EXPECT_EQ(replies[0].portCount, 4);
  EXPECT_EQ(replies[0].ports[3].swOut, 3);
  EXPECT_EQ(replies[1].portCount, 1);
  EXPECT_EQ(replies[1].ports[0].swOut, 4);
  EXPECT_EQ(replies[2].netSwitch, 1);
  EXPECT_EQ(replies[2].subSwitch, 1);
  for (size_t i = 0; i < replies.size(); ++i) {
    EXPECT_EQ(replies[i].bindIndex, i + 1);
    EXPECT_EQ(replies[i].bindIp, replies[i].ip);
  }
  EXPECT_EQ(ArtPollRepliesFor(NodeTemplate(), {}).size(), 1u) << "a node without ports still answers";
  EXPECT_EQ(ArtPollRepliesFor(NodeTemplate(), {})[0].portCount, 0);
}

TEST(ArtnetPacket, BuildersRefuseWhatTheyCannotSend) {
  std::array<uint8_t, kArtnetMaxPacketSize> out{};
  uint8_t data[514] = {};
  ArtDmx dmx;
  dmx.data = data;
  for (uint16_t length : {0, 513, 514}) {
    dmx.length = length;
    EXPECT_EQ(BuildArtDmx(dmx, out.data(), out.size()), 0u) << length;
  }
  dmx.length = 512;
  EXPECT_EQ(BuildArtDmx(dmx, out.data(), 529), 0u);
  EXPECT_EQ(BuildArtDmx(dmx, out.data(), 530), 530u);
  dmx.portAddress = 0x8000;
  EXPECT_EQ(BuildArtDmx(dmx, out.data(), out.size()), 0u);
  ArtPollReply reply;
  reply.portCount = 5;
  EXPECT_EQ(BuildArtPollReply(reply, out.data(), out.size()), 0u);
  reply.portCount = 4;
  EXPECT_EQ(BuildArtPollReply(reply, out.data(), 238), 0u);
}

// ---- Drops, by kind --------------------------------------------------------

TEST(ArtnetDrops, HeaderAndOpCode) {
  EXPECT_EQ(DropOf(Bytes{}), DropKind::kTruncated);
  EXPECT_EQ(DropOf(Hex("41 72 74 2d")), DropKind::kTruncated);
  EXPECT_EQ(DropOf(Join({kId, Hex("00")})), DropKind::kTruncated);
  Bytes wrongId = DmxVector();
  wrongId[7] = ' ';
  EXPECT_EQ(DropOf(wrongId), DropKind::kBadIdentifier);
  Bytes bigEndianOpCode = DmxVector();
  bigEndianOpCode[8] = 0x50, bigEndianOpCode[9] = 0x00;
  EXPECT_EQ(DropOf(bigEndianOpCode), DropKind::kUnsupportedOpCode);
  EXPECT_EQ(DropOf(Join({kId, Hex("00 f8  00 0e")})), DropKind::kUnsupportedOpCode);  // ArtIpProg
  Bytes oldVersion = DmxVector();
  oldVersion[11] = 13;
  EXPECT_EQ(DropOf(oldVersion), DropKind::kBadProtocolVersion);
  EXPECT_EQ(DropOf(Join({kId, Hex("00 20  00 0e  00")})), DropKind::kTruncated);  // 13-byte poll
  EXPECT_EQ(DropOf(Join({kId, Hex("00 52  00 0e  00")})), DropKind::kTruncated);  // 13-byte sync
  Bytes reply = PollReplyVector();
  reply.resize(206);
  EXPECT_EQ(DropOf(reply), DropKind::kTruncated);
}

TEST(ArtnetDrops, DmxLength) {
  // Odd lengths are taken as given, and bytes after the data are ignored.
  for (uint8_t length : {3, 1}) {
    Bytes odd = DmxVector();
    odd[17] = length;
    odd.resize(18 + length);
    odd.push_back(0xEE);  // padding a controller added
    ArtnetPacket parsed = ParseArtnet(odd.data(), odd.size());
    ASSERT_TRUE(std::holds_alternative<ArtDmx>(parsed)) << int(length);
    EXPECT_EQ(std::get<ArtDmx>(parsed).length, length);
    EXPECT_EQ(std::get<ArtDmx>(parsed).data[0], 0x01);
  }
  Bytes padded = DmxVector();
  padded.resize(kArtDmxMaxSize + 100, 0xEE);
  ArtnetPacket parsed = ParseArtnet(padded.data(), padded.size());
  ASSERT_TRUE(std::holds_alternative<ArtDmx>(parsed));
  EXPECT_EQ(std::get<ArtDmx>(parsed).length, 4);

  Bytes zero = Join({kId, Hex("00 50  00 0e  00 00 00 00  00 00")});
  EXPECT_EQ(DropOf(zero), DropKind::kDmxLengthOutOfRange);
  Bytes above = DmxVector();
  above[16] = 0x02, above[17] = 0x02;  // 514, in a short datagram
  EXPECT_EQ(DropOf(above), DropKind::kDmxLengthOutOfRange);
  Bytes cut = DmxVector();
  cut.pop_back();
  EXPECT_EQ(DropOf(cut), DropKind::kTruncated) << "a length above what the datagram holds";
  Bytes header = DmxVector();
  header.resize(17);
  EXPECT_EQ(DropOf(header), DropKind::kTruncated);
}

}  // namespace
