// sACN datagram parser: checks each layer against the datagram before it
// reads the layer's fields.
#include <cstring>
#include <optional>

#include "protocols/byte_order.h"
#include "protocols/sacn_layout.h"
#include "protocols/sacn_packet.h"

namespace ombrix::protocols {
namespace {

using namespace sacn;
using bytes::Big16;
using bytes::Big32;

// A flags-and-length field at offset must have flags 0x7 and count exactly
// the bytes from offset to the end of the datagram. Claiming more than the
// datagram holds means it was cut short; anything else disagrees with it.
std::optional<DropKind> CheckLayerLength(const uint8_t* data, size_t size, size_t offset) {
  uint16_t field = Big16(data + offset);
  size_t length = field & 0x0FFF;
  if ((field >> 12) != kFlags) return DropKind::kBadLengthField;
  if (length > size - offset) return DropKind::kTruncated;
  if (length < size - offset) return DropKind::kBadLengthField;
  return std::nullopt;
}

bool ValidUniverse(uint16_t universe) { return universe >= kSacnMinUniverse && universe <= kSacnMaxUniverse; }

Cid ReadCid(const uint8_t* data) {
  Cid cid;
  std::memcpy(cid.data(), data + kCid, cid.size());
  return cid;
}

SacnPacket ParseData(const uint8_t* data, size_t size) {
  if (size < kSacnDataMinSize) return DropKind::kTruncated;
  if (size > kSacnDataMaxSize) return DropKind::kOversized;
  if (Big32(data + kFramingVector) != kFramingVectorData) return DropKind::kBadVector;
  if (auto drop = CheckLayerLength(data, size, kDmpLength)) return *drop;
  if (data[kDmpVector] != kDmpVectorSetProperty || data[kDmpAddressTypeField] != kDmpAddressType ||
      Big16(data + kDmpFirstAddress) != 0 || Big16(data + kDmpIncrement) != 1) {
    return DropKind::kBadVector;
  }
  uint16_t count = Big16(data + kDmpPropertyCount);
  if (count == 0 || count > kMaxPropertyCount) return DropKind::kBadPropertyCount;
  // The layer lengths already match the datagram, so a count that disagrees
  // with them is a length fault too: more than is there, or fewer.
  if (kDmpStartCode + count > size) return DropKind::kTruncated;
  if (kDmpStartCode + count < size) return DropKind::kBadLengthField;

  SacnData packet;
  packet.cid = ReadCid(data);
  packet.sourceName = bytes::TextField(data + kDataSourceName, kSacnSourceNameBytes);
  packet.priority = data[kDataPriority];
  packet.syncAddress = Big16(data + kDataSyncAddress);
  packet.sequence = data[kDataSequence];
  uint8_t options = data[kDataOptions];
  packet.preview = (options & kSacnOptionPreview) != 0;
  packet.streamTerminated = (options & kSacnOptionStreamTerminated) != 0;
  packet.forceSync = (options & kSacnOptionForceSync) != 0;
  packet.universe = Big16(data + kDataUniverse);
  packet.startCode = data[kDmpStartCode];
  packet.slots = data + kDmpSlots;
  packet.slotCount = static_cast<uint16_t>(count - 1);
  if (!ValidUniverse(packet.universe)) return DropKind::kBadUniverse;
  if (packet.syncAddress != 0 && !ValidUniverse(packet.syncAddress)) return DropKind::kBadUniverse;
  if (packet.priority > kSacnMaxPriority) return DropKind::kBadPriority;
  return packet;
}

SacnPacket ParseSync(const uint8_t* data, size_t size) {
  if (size < kSacnSyncSize) return DropKind::kTruncated;
  if (size > kSacnSyncSize) return DropKind::kOversized;
  SacnSync packet;
  packet.cid = ReadCid(data);
  packet.sequence = data[kSyncSequence];
  packet.syncAddress = Big16(data + kSyncAddress);
  if (!ValidUniverse(packet.syncAddress)) return DropKind::kBadUniverse;
  return packet;
}

SacnPacket ParseDiscovery(const uint8_t* data, size_t size) {
  if (size < kSacnDiscoveryMinSize) return DropKind::kTruncated;
  if (auto drop = CheckLayerLength(data, size, kDiscoveryLength)) return *drop;
  if (Big32(data + kDiscoveryVector) != kDiscoveryVectorUniverseList) return DropKind::kBadVector;
  if ((size - kDiscoveryList) % 2 != 0) return DropKind::kBadLengthField;
  SacnDiscovery packet;
  packet.cid = ReadCid(data);
  packet.sourceName = bytes::TextField(data + kDiscoverySourceName, kSacnSourceNameBytes);
  packet.page = data[kDiscoveryPage];
  packet.lastPage = data[kDiscoveryLastPage];
  size_t count = (size - kDiscoveryList) / 2;
  packet.universes.reserve(count);
  for (size_t i = 0; i < count; ++i) packet.universes.push_back(Big16(data + kDiscoveryList + 2 * i));
  return packet;
}

SacnPacket ParseExtended(const uint8_t* data, size_t size) {
  switch (Big32(data + kFramingVector)) {
    case kFramingVectorSync:
      return ParseSync(data, size);
    case kFramingVectorDiscovery:
      return ParseDiscovery(data, size);
    default:
      return DropKind::kBadVector;
  }
}

}  // namespace

SacnPacket ParseSacn(const uint8_t* data, size_t size) {
  if (size > kSacnMaxPacketSize) return DropKind::kOversized;
  if (size < kRootLength) return DropKind::kTruncated;
  if (Big16(data + kPreamble) != kPreambleSize || Big16(data + kPostamble) != kPostambleSize ||
      std::memcmp(data + kIdentifier, kPacketIdentifier, sizeof kPacketIdentifier) != 0) {
    return DropKind::kBadIdentifier;
  }
  // Root layer and the framing layer's length and vector: 44 bytes.
  if (size < kFramingVector + 4) return DropKind::kTruncated;
  if (auto drop = CheckLayerLength(data, size, kRootLength)) return *drop;
  if (auto drop = CheckLayerLength(data, size, kFramingLength)) return *drop;
  switch (Big32(data + kRootVector)) {
    case kRootVectorData:
      return ParseData(data, size);
    case kRootVectorExtended:
      return ParseExtended(data, size);
    default:
      return DropKind::kBadVector;
  }
}

}  // namespace ombrix::protocols
