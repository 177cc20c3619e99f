// sACN (ANSI E1.31) packets: parsing and building over byte spans.
//
// Three packet kinds travel on UDP port 5568:
//   data       root vector 0x00000004, framing vector 0x00000002, DMP layer
//              with start code and up to 512 slots (126 to 638 bytes);
//   sync       root vector 0x00000008, framing vector 0x00000001 (49 bytes);
//   discovery  root vector 0x00000008, framing vector 0x00000002, universe
//              discovery layer vector 0x00000001 with one page of the
//              source's universe list, sent to universe 64214 (120 bytes
//              plus 2 per universe).
// Every field is big-endian. Every flags-and-length field must carry flags
// 0x7 and exactly the number of bytes from its own start to the end of the
// datagram; anything else is a drop, never a best guess.
//
// Parsed packets are views: pointers and string_views point into the
// datagram, which must outlive them.
#ifndef OMBRIX_PROTOCOLS_SACN_PACKET_H
#define OMBRIX_PROTOCOLS_SACN_PACKET_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "drops.h"

namespace ombrix::protocols {

constexpr uint16_t kSacnPort = 5568;
constexpr uint16_t kSacnMinUniverse = 1;
constexpr uint16_t kSacnMaxUniverse = 63999;
constexpr uint16_t kSacnDiscoveryUniverse = 64214;
constexpr uint8_t kSacnMaxPriority = 200;
constexpr uint8_t kSacnDefaultPriority = 100;
constexpr size_t kSacnSourceNameBytes = 64;  // including at least one NUL when built
constexpr size_t kSacnDataMinSize = 126;     // start code only
constexpr size_t kSacnDataMaxSize = 638;     // start code and 512 slots
constexpr size_t kSacnSyncSize = 49;
constexpr size_t kSacnDiscoveryMinSize = 120;
constexpr size_t kSacnDiscoveryUniversesPerPage = 512;
constexpr size_t kSacnDiscoveryMaxSize = 120 + 2 * kSacnDiscoveryUniversesPerPage;  // 1144
constexpr size_t kSacnMaxPacketSize = kSacnDiscoveryMaxSize;                        // a receive buffer that holds any

// Start codes with a meaning to the merger.
constexpr uint8_t kStartCodeLevels = 0x00;
constexpr uint8_t kStartCodePerSlotPriority = 0xDD;

// Framing-layer option bits.
constexpr uint8_t kSacnOptionPreview = 0x80;
constexpr uint8_t kSacnOptionStreamTerminated = 0x40;
constexpr uint8_t kSacnOptionForceSync = 0x20;

using Cid = std::array<uint8_t, 16>;
// "6ba7b810-9dad-11d1-80b4-00c04fd430c8": how a CID is shown and named.
std::string CidText(const Cid& cid);

// A data packet. Also the input of BuildSacnData.
struct SacnData {
  Cid cid{};
  std::string_view sourceName;              // up to the first NUL, at most 64 bytes; not checked as UTF-8
  uint8_t priority = kSacnDefaultPriority;  // 0-200
  uint16_t syncAddress = 0;                 // 0: not synchronised
  uint8_t sequence = 0;
  bool preview = false;
  bool streamTerminated = false;
  bool forceSync = false;
  uint16_t universe = 0;  // 1-63999
  uint8_t startCode = kStartCodeLevels;
  const uint8_t* slots = nullptr;  // slotCount bytes after the start code
  uint16_t slotCount = 0;          // 0-512 (property value count minus one)
};

// A synchronisation packet: "act now on the data you hold for syncAddress".
struct SacnSync {
  Cid cid{};
  uint8_t sequence = 0;
  uint16_t syncAddress = 0;  // 1-63999: the universe this packet is sent on
};

// One page of a source's universe list.
struct SacnDiscovery {
  Cid cid{};
  std::string_view sourceName;
  uint8_t page = 0;
  uint8_t lastPage = 0;
  std::vector<uint16_t> universes;  // at most 512 per page, ascending when sent by us
};

// A parsed datagram or the reason it was refused.
using SacnPacket = std::variant<DropKind, SacnData, SacnSync, SacnDiscovery>;

// Parses one UDP payload. Never reads outside [data, data + size); data may
// be null when size is 0.
//   Too short for the root layer or its kind's fixed part, or shorter than
//   the DMP property count says: kTruncated. Longer than the largest packet
//   of its kind: kOversized. Flags-and-length fields that disagree with the
//   datagram: kBadLengthField. Preamble, post-amble or packet identifier
//   wrong: kBadIdentifier. Unknown vector, DMP address type other than 0xA1,
//   first address other than 0 or increment other than 1: kBadVector.
//   Property count 0 or above 513: kBadPropertyCount. Universe or sync
//   address out of 1-63999 (sync address 0 is "none" in a data packet):
//   kBadUniverse; a discovery packet not addressed as such is not checked
//   for its universe (it has none). Priority above 200: kBadPriority.
SacnPacket ParseSacn(const uint8_t* data, size_t size);

// Builders write one packet to out and return its size, or 0 when capacity
// is too small or a field is out of range (universe, priority, slotCount >
// 512, slots null with slotCount > 0, more than 512 universes on a page or
// page above lastPage).
// The source name is cut to at most 63 bytes at a UTF-8 character boundary
// and padded with NULs. Options come from the packet's flags.
size_t BuildSacnData(const SacnData& packet, uint8_t* out, size_t capacity);
size_t BuildSacnSync(const SacnSync& packet, uint8_t* out, size_t capacity);
size_t BuildSacnDiscovery(const SacnDiscovery& page, uint8_t* out, size_t capacity);

// Pages needed for a universe list of that many entries (at least one: an
// empty list is still announced).
size_t SacnDiscoveryPageCount(size_t universes);

// The IPv4 multicast group of a universe: 239.255.(universe >> 8).(universe & 0xFF).
std::array<uint8_t, 4> SacnMulticastGroup(uint16_t universe);

}  // namespace ombrix::protocols

#endif  // OMBRIX_PROTOCOLS_SACN_PACKET_H
