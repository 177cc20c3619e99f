// sACN packet builders: one shared root layer, then each kind's own layers.
#include <cstring>

#include "protocols/byte_order.h"
#include "protocols/sacn_layout.h"
#include "protocols/sacn_packet.h"

namespace ombrix::protocols {

std::string CidText(const Cid& cid) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < cid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kHex[cid[i] >> 4];
    text += kHex[cid[i] & 0x0F];
  }
  return text;
}
namespace {

using namespace sacn;
using bytes::PutBig16;
using bytes::PutBig32;

void PutLayerLength(uint8_t* out, size_t offset, size_t packetSize) {
  PutBig16(out + offset, static_cast<uint16_t>((kFlags << 12) | (packetSize - offset)));
}

// Root layer and the framing layer's length and vector, the same for every
// kind but for the two vectors.
void PutRootLayer(uint8_t* out, size_t size, uint32_t rootVector, const Cid& cid, uint32_t framingVector) {
  std::memset(out, 0, size);
  PutBig16(out + kPreamble, kPreambleSize);
  PutBig16(out + kPostamble, kPostambleSize);
  std::memcpy(out + kIdentifier, kPacketIdentifier, sizeof kPacketIdentifier);
  PutLayerLength(out, kRootLength, size);
  PutBig32(out + kRootVector, rootVector);
  std::memcpy(out + kCid, cid.data(), cid.size());
  PutLayerLength(out, kFramingLength, size);
  PutBig32(out + kFramingVector, framingVector);
}

bool ValidUniverse(uint16_t universe) { return universe >= kSacnMinUniverse && universe <= kSacnMaxUniverse; }

}  // namespace

size_t BuildSacnData(const SacnData& packet, uint8_t* out, size_t capacity) {
  if (!ValidUniverse(packet.universe) || packet.priority > kSacnMaxPriority) return 0;
  if (packet.syncAddress != 0 && !ValidUniverse(packet.syncAddress)) return 0;
  if (packet.slotCount > kMaxPropertyCount - 1 || (packet.slotCount > 0 && !packet.slots)) return 0;
  size_t size = kDmpSlots + packet.slotCount;
  if (!out || capacity < size) return 0;

  PutRootLayer(out, size, kRootVectorData, packet.cid, kFramingVectorData);
  bytes::PutTextField(out + kDataSourceName, kSacnSourceNameBytes, packet.sourceName);
  out[kDataPriority] = packet.priority;
  PutBig16(out + kDataSyncAddress, packet.syncAddress);
  out[kDataSequence] = packet.sequence;
  out[kDataOptions] = static_cast<uint8_t>((packet.preview ? kSacnOptionPreview : 0) |
                                           (packet.streamTerminated ? kSacnOptionStreamTerminated : 0) |
                                           (packet.forceSync ? kSacnOptionForceSync : 0));
  PutBig16(out + kDataUniverse, packet.universe);
  PutLayerLength(out, kDmpLength, size);
  out[kDmpVector] = kDmpVectorSetProperty;
  out[kDmpAddressTypeField] = kDmpAddressType;
  PutBig16(out + kDmpFirstAddress, 0);
  PutBig16(out + kDmpIncrement, 1);
  PutBig16(out + kDmpPropertyCount, static_cast<uint16_t>(packet.slotCount + 1));
  out[kDmpStartCode] = packet.startCode;
  if (packet.slotCount > 0) std::memcpy(out + kDmpSlots, packet.slots, packet.slotCount);
  return size;
}

size_t BuildSacnSync(const SacnSync& packet, uint8_t* out, size_t capacity) {
  if (!ValidUniverse(packet.syncAddress)) return 0;
  if (!out || capacity < kSacnSyncSize) return 0;
  PutRootLayer(out, kSacnSyncSize, kRootVectorExtended, packet.cid, kFramingVectorSync);
  out[kSyncSequence] = packet.sequence;
  PutBig16(out + kSyncAddress, packet.syncAddress);
  return kSacnSyncSize;  // the two reserved bytes stay 0
}

size_t BuildSacnDiscovery(const SacnDiscovery& page, uint8_t* out, size_t capacity) {
  if (page.universes.size() > kSacnDiscoveryUniversesPerPage || page.page > page.lastPage) return 0;
  size_t size = kDiscoveryList + 2 * page.universes.size();
  if (!out || capacity < size) return 0;
  PutRootLayer(out, size, kRootVectorExtended, page.cid, kFramingVectorDiscovery);
  bytes::PutTextField(out + kDiscoverySourceName, kSacnSourceNameBytes, page.sourceName);
  PutLayerLength(out, kDiscoveryLength, size);
  PutBig32(out + kDiscoveryVector, kDiscoveryVectorUniverseList);
  out[kDiscoveryPage] = page.page;
  out[kDiscoveryLastPage] = page.lastPage;
  for (size_t i = 0; i < page.universes.size(); ++i) {
    PutBig16(out + kDiscoveryList + 2 * i, page.universes[i]);
  }
  return size;
}

size_t SacnDiscoveryPageCount(size_t universes) {
  if (universes == 0) return 1;
  return (universes + kSacnDiscoveryUniversesPerPage - 1) / kSacnDiscoveryUniversesPerPage;
}

std::array<uint8_t, 4> SacnMulticastGroup(uint16_t universe) {
  return {239, 255, static_cast<uint8_t>(universe >> 8), static_cast<uint8_t>(universe & 0xFF)};
}

}  // namespace ombrix::protocols
