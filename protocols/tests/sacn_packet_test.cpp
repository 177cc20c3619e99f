// sACN codec against byte vectors written from E1.31's packet layouts.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <variant>

#include "byte_vectors.h"
#include "protocols/sacn_packet.h"

namespace {

using namespace ombrix::protocols;
using ombrix_test::Bytes;
using ombrix_test::Hex;
using ombrix_test::Join;
using ombrix_test::TextField;
using ombrix_test::Zeros;

const Cid kCid = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
const Bytes kCidBytes = Hex("01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10");
const Bytes kRootStart = Hex("00 10  00 00  41 53 43 2d 45 31 2e 31 37 00 00 00");

// A data packet for universe 1 from "Desk", priority 100, sequence 0x2A,
// start code 0 and three slots: 129 bytes.
Bytes DataVector() {
  return Join({kRootStart, Hex("70 71  00 00 00 04"), kCidBytes,  // root layer: 113 bytes
               Hex("70 5b  00 00 00 02"), TextField("Desk", 64),  // framing layer: 91 bytes
               Hex("64  00 00  2a  00  00 01"),                   // priority, sync, seq, options, universe
               Hex("70 0e  02  a1  00 00  00 01  00 04"),         // DMP layer: 14 bytes, 4 properties
               Hex("00  ff 80 01")});                             // start code, slots
}

// A sync packet for sync address 7, sequence 9: 49 bytes.
Bytes SyncVector() {
  return Join({kRootStart, Hex("70 21  00 00 00 08"), kCidBytes, Hex("70 0b  00 00 00 01  09  00 07  00 00")});
}

// Page 0 of 0 listing universes 1, 2 and 512: 126 bytes.
Bytes DiscoveryVector() {
  return Join({kRootStart, Hex("70 6e  00 00 00 08"), kCidBytes, Hex("70 58  00 00 00 02"), TextField("Desk", 64),
               Zeros(4), Hex("70 0e  00 00 00 01  00  00  00 01  00 02  02 00")});
}

template <typename T>
T ParseAs(const Bytes& bytes) {
  SacnPacket packet = ParseSacn(bytes.data(), bytes.size());
  if (auto* drop = std::get_if<DropKind>(&packet)) {
    ADD_FAILURE() << "dropped as " << DropKindName(*drop);
    return T{};
  }
  EXPECT_TRUE(std::holds_alternative<T>(packet));
  return std::holds_alternative<T>(packet) ? std::get<T>(packet) : T{};
}

DropKind DropOf(const Bytes& bytes) {
  SacnPacket packet = ParseSacn(bytes.data(), bytes.size());
  EXPECT_TRUE(std::holds_alternative<DropKind>(packet));
  return std::holds_alternative<DropKind>(packet) ? std::get<DropKind>(packet) : DropKind::kCount;
}

TEST(SacnPacket, DataVectorParsesAndBuildsByteExact) {
  Bytes vector = DataVector();
  ASSERT_EQ(vector.size(), 129u);
  SacnData data = ParseAs<SacnData>(vector);
  EXPECT_EQ(data.cid, kCid);
  EXPECT_EQ(data.sourceName, "Desk");
  EXPECT_EQ(data.priority, 100);
  EXPECT_EQ(data.syncAddress, 0);
  EXPECT_EQ(data.sequence, 0x2A);
  EXPECT_FALSE(data.preview || data.streamTerminated || data.forceSync);
  EXPECT_EQ(data.universe, 1);
  EXPECT_EQ(data.startCode, 0);
  ASSERT_EQ(data.slotCount, 3);
  EXPECT_EQ(Bytes(data.slots, data.slots + 3), Hex("ff 80 01"));

  std::array<uint8_t, kSacnMaxPacketSize> out{};
  size_t size = BuildSacnData(data, out.data(), out.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), vector);
}

TEST(SacnPacket, DataOptionsAndSyncAddressRoundTrip) {
  Bytes vector = DataVector();
  vector[109] = 0x01, vector[110] = 0x2C;  // sync address 300
  vector[112] = 0xE0;                      // preview, terminated, force sync
  vector[113] = 0xF9, vector[114] = 0xFF;  // universe 63999
  SacnData data = ParseAs<SacnData>(vector);
  EXPECT_EQ(data.syncAddress, 300);
  EXPECT_TRUE(data.preview && data.streamTerminated && data.forceSync);
  EXPECT_EQ(data.universe, 63999);
  std::array<uint8_t, kSacnMaxPacketSize> out{};
  size_t size = BuildSacnData(data, out.data(), out.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), vector);
}

TEST(SacnPacket, PerSlotPriorityVectorParsesAndBuildsByteExact) {
  // The same framing as levels; start code 0xDD, one priority per slot.
  Bytes vector = DataVector();
  vector[125] = 0xDD;
  vector[126] = 0xC8, vector[127] = 0x00, vector[128] = 0x64;  // 200, not sourced, 100
  SacnData data = ParseAs<SacnData>(vector);
  EXPECT_EQ(data.startCode, kStartCodePerSlotPriority);
  EXPECT_EQ(Bytes(data.slots, data.slots + data.slotCount), Hex("c8 00 64"));
  std::array<uint8_t, kSacnMaxPacketSize> out{};
  size_t size = BuildSacnData(data, out.data(), out.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), vector);
}

TEST(SacnPacket, FullUniverseAndStartCodeOnly) {
  // 512 slots: 638 bytes, DMP length 523 (0x20B), 513 properties.
  Bytes full = DataVector();
  full.resize(126);
  full.resize(638, 0x55);
  full[16] = 0x72, full[17] = 0x6E;    // 622
  full[38] = 0x72, full[39] = 0x58;    // 600
  full[115] = 0x72, full[116] = 0x0B;  // 523
  full[123] = 0x02, full[124] = 0x01;  // 513
  SacnData data = ParseAs<SacnData>(full);
  EXPECT_EQ(data.slotCount, 512);
  EXPECT_EQ(data.slots[511], 0x55);

  Bytes bare = DataVector();
  bare.resize(126);
  bare[17] = 0x6E, bare[39] = 0x58, bare[116] = 0x0B, bare[124] = 0x01;
  EXPECT_EQ(ParseAs<SacnData>(bare).slotCount, 0);
}

TEST(SacnPacket, SyncVectorParsesAndBuildsByteExact) {
  Bytes vector = SyncVector();
  ASSERT_EQ(vector.size(), 49u);
  SacnSync sync = ParseAs<SacnSync>(vector);
  EXPECT_EQ(sync.cid, kCid);
  EXPECT_EQ(sync.sequence, 9);
  EXPECT_EQ(sync.syncAddress, 7);
  std::array<uint8_t, 64> out{};
  ASSERT_EQ(BuildSacnSync(sync, out.data(), out.size()), 49u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 49), vector);
}

TEST(SacnPacket, DiscoveryVectorParsesAndBuildsByteExact) {
  Bytes vector = DiscoveryVector();
  ASSERT_EQ(vector.size(), 126u);
  SacnDiscovery page = ParseAs<SacnDiscovery>(vector);
  EXPECT_EQ(page.cid, kCid);
  EXPECT_EQ(page.sourceName, "Desk");
  EXPECT_EQ(page.page, 0);
  EXPECT_EQ(page.lastPage, 0);
  EXPECT_EQ(page.universes, (std::vector<uint16_t>{1, 2, 512}));
  std::array<uint8_t, kSacnMaxPacketSize> out{};
  size_t size = BuildSacnDiscovery(page, out.data(), out.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), vector);

  EXPECT_EQ(SacnDiscoveryPageCount(0), 1u);
  EXPECT_EQ(SacnDiscoveryPageCount(512), 1u);
  EXPECT_EQ(SacnDiscoveryPageCount(513), 2u);
}

TEST(SacnPacket, BuildersRefuseWhatTheyCannotSend) {
  std::array<uint8_t, kSacnMaxPacketSize> out{};
  uint8_t slots[512] = {};
  SacnData data;
  data.universe = 1;
  data.slots = slots;
  data.slotCount = 512;
  EXPECT_EQ(BuildSacnData(data, out.data(), 637), 0u) << "capacity one short";
  EXPECT_EQ(BuildSacnData(data, out.data(), 638), 638u);
  data.slotCount = 513;
  EXPECT_EQ(BuildSacnData(data, out.data(), out.size()), 0u);
  data.slotCount = 1;
  data.universe = 0;
  EXPECT_EQ(BuildSacnData(data, out.data(), out.size()), 0u);
  data.universe = 64000;
  EXPECT_EQ(BuildSacnData(data, out.data(), out.size()), 0u);
  data.universe = 1;
  data.priority = 201;
  EXPECT_EQ(BuildSacnData(data, out.data(), out.size()), 0u);
  data.priority = 100;
  data.slots = nullptr;
  EXPECT_EQ(BuildSacnData(data, out.data(), out.size()), 0u);
  EXPECT_EQ(BuildSacnSync(SacnSync{kCid, 0, 0}, out.data(), out.size()), 0u);
  SacnDiscovery page;
  page.universes.assign(513, 1);
  EXPECT_EQ(BuildSacnDiscovery(page, out.data(), out.size()), 0u);
}

TEST(SacnPacket, SourceNameIsCutAtACharacterBoundaryAndTerminated) {
  // 62 ASCII bytes then "é" (2 bytes) and "x": the cut after 63 bytes would
  // split "é", so it falls before it.
  std::string name = std::string(62, 'n') + "\xC3\xA9" + "x";
  SacnData data;
  data.universe = 1;
  data.sourceName = name;
  std::array<uint8_t, kSacnMaxPacketSize> out{};
  ASSERT_EQ(BuildSacnData(data, out.data(), out.size()), 126u);
  EXPECT_EQ(out[44 + 61], 'n');
  EXPECT_EQ(out[44 + 62], 0);
  EXPECT_EQ(out[44 + 63], 0);
  Bytes built(out.begin(), out.begin() + 126);  // outlives the views into it
  SacnData parsed = ParseAs<SacnData>(built);
  EXPECT_EQ(parsed.sourceName, std::string(62, 'n'));

  // A received name that fills all 64 bytes without a NUL is taken whole.
  Bytes vector = DataVector();
  std::fill(vector.begin() + 44, vector.begin() + 108, 'z');
  EXPECT_EQ(ParseAs<SacnData>(vector).sourceName, std::string(64, 'z'));
}

TEST(SacnPacket, MulticastGroupOfUniverse) {
  EXPECT_EQ(SacnMulticastGroup(1), (std::array<uint8_t, 4>{239, 255, 0, 1}));
  EXPECT_EQ(SacnMulticastGroup(63999), (std::array<uint8_t, 4>{239, 255, 0xF9, 0xFF}));
  EXPECT_EQ(SacnMulticastGroup(kSacnDiscoveryUniverse), (std::array<uint8_t, 4>{239, 255, 0xFA, 0xD6}));
}

// ---- Drops, by kind --------------------------------------------------------

TEST(SacnDrops, DatagramSize) {
  EXPECT_EQ(DropOf(Bytes{}), DropKind::kTruncated);
  Bytes vector = DataVector();
  for (size_t size : {1u, 15u, 16u, 43u, 44u, 125u, 128u}) {
    EXPECT_EQ(DropOf(Bytes(vector.begin(), vector.begin() + size)), DropKind::kTruncated) << size;
  }
  EXPECT_EQ(DropOf(Bytes(kSacnMaxPacketSize + 1, 0)), DropKind::kOversized);
  // A data packet of 513 slots, every length consistent: still too long.
  Bytes tooLong = DataVector();
  tooLong.resize(639, 0);
  tooLong[16] = 0x72, tooLong[17] = 0x6F;
  tooLong[38] = 0x72, tooLong[39] = 0x59;
  tooLong[115] = 0x72, tooLong[116] = 0x0C;
  tooLong[123] = 0x02, tooLong[124] = 0x02;
  EXPECT_EQ(DropOf(tooLong), DropKind::kOversized);
  Bytes longSync = SyncVector();
  longSync.push_back(0);
  longSync[17] = 0x22, longSync[39] = 0x0C;
  EXPECT_EQ(DropOf(longSync), DropKind::kOversized);
}

TEST(SacnDrops, LengthFieldsAgainstTheDatagram) {
  Bytes extraByte = DataVector();
  extraByte.push_back(0);  // every layer now claims one byte less than is there
  EXPECT_EQ(DropOf(extraByte), DropKind::kBadLengthField);

  for (size_t field : {16u, 38u, 115u}) {
    Bytes flags = DataVector();
    flags[field] = static_cast<uint8_t>((flags[field] & 0x0F) | 0x60);
    EXPECT_EQ(DropOf(flags), DropKind::kBadLengthField) << "flags at " << field;
    Bytes longer = DataVector();
    longer[field + 1] += 1;
    EXPECT_EQ(DropOf(longer), DropKind::kTruncated) << "length at " << field;
    Bytes shorter = DataVector();
    shorter[field + 1] -= 1;
    EXPECT_EQ(DropOf(shorter), DropKind::kBadLengthField) << "length at " << field;
  }
  Bytes countHigh = DataVector();
  countHigh[124] = 0x05;
  EXPECT_EQ(DropOf(countHigh), DropKind::kTruncated);
  Bytes countLow = DataVector();
  countLow[124] = 0x03;
  EXPECT_EQ(DropOf(countLow), DropKind::kBadLengthField);

  Bytes discovery = DiscoveryVector();
  discovery[113] -= 1;
  EXPECT_EQ(DropOf(discovery), DropKind::kBadLengthField);
  // An odd byte after the universe list: lengths agree, the list does not.
  Bytes odd = DiscoveryVector();
  odd.push_back(0);
  odd[17] += 1, odd[39] += 1, odd[113] += 1;
  EXPECT_EQ(DropOf(odd), DropKind::kBadLengthField);
}

TEST(SacnDrops, IdentifiersAndVectors) {
  for (size_t offset : {1u, 3u, 4u, 12u, 15u}) {
    Bytes vector = DataVector();
    vector[offset] ^= 0x01;
    EXPECT_EQ(DropOf(vector), DropKind::kBadIdentifier) << offset;
  }
  // Root, framing and DMP vectors, address type, first address, increment.
  for (size_t offset : {21u, 43u, 117u, 118u, 120u, 122u}) {
    Bytes vector = DataVector();
    vector[offset] ^= 0x04;
    EXPECT_EQ(DropOf(vector), DropKind::kBadVector) << offset;
  }
  Bytes sync = SyncVector();
  sync[43] = 0x03;  // neither sync nor discovery
  EXPECT_EQ(DropOf(sync), DropKind::kBadVector);
  Bytes discovery = DiscoveryVector();
  discovery[117] = 0x02;
  EXPECT_EQ(DropOf(discovery), DropKind::kBadVector);
}

TEST(SacnDrops, FieldValues) {
  Bytes zeroCount = DataVector();
  zeroCount[124] = 0x00;
  EXPECT_EQ(DropOf(zeroCount), DropKind::kBadPropertyCount);
  Bytes bigCount = DataVector();
  bigCount[123] = 0x02, bigCount[124] = 0x02;  // 514
  EXPECT_EQ(DropOf(bigCount), DropKind::kBadPropertyCount);

  Bytes universeZero = DataVector();
  universeZero[114] = 0x00;
  EXPECT_EQ(DropOf(universeZero), DropKind::kBadUniverse);
  Bytes universeHigh = DataVector();
  universeHigh[113] = 0xFA, universeHigh[114] = 0x00;  // 64000
  EXPECT_EQ(DropOf(universeHigh), DropKind::kBadUniverse);
  Bytes syncHigh = DataVector();
  syncHigh[109] = 0xFA, syncHigh[110] = 0x00;
  EXPECT_EQ(DropOf(syncHigh), DropKind::kBadUniverse);
  Bytes syncPacketZero = SyncVector();
  syncPacketZero[46] = 0x00;
  EXPECT_EQ(DropOf(syncPacketZero), DropKind::kBadUniverse);

  Bytes priority = DataVector();
  priority[108] = 201;
  EXPECT_EQ(DropOf(priority), DropKind::kBadPriority);
  priority[108] = 200;
  EXPECT_EQ(ParseAs<SacnData>(priority).priority, 200);
}

}  // namespace
