// Byte offsets of the sACN packet layers, shared by the parser and the
// builders so that both read the same layout. Internal to the codecs.
#ifndef OMBRIX_PROTOCOLS_SACN_LAYOUT_H
#define OMBRIX_PROTOCOLS_SACN_LAYOUT_H

#include <cstddef>
#include <cstdint>

namespace ombrix::protocols::sacn {

constexpr uint16_t kPreambleSize = 0x0010;
constexpr uint16_t kPostambleSize = 0x0000;
constexpr uint8_t kPacketIdentifier[12] = {'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0};
constexpr uint8_t kFlags = 0x7;  // high nibble of every flags-and-length field

constexpr uint32_t kRootVectorData = 0x00000004;
constexpr uint32_t kRootVectorExtended = 0x00000008;
constexpr uint32_t kFramingVectorData = 0x00000002;
constexpr uint32_t kFramingVectorSync = 0x00000001;
constexpr uint32_t kFramingVectorDiscovery = 0x00000002;
constexpr uint32_t kDiscoveryVectorUniverseList = 0x00000001;
constexpr uint8_t kDmpVectorSetProperty = 0x02;
constexpr uint8_t kDmpAddressType = 0xA1;
constexpr uint16_t kMaxPropertyCount = 513;  // start code and 512 slots

// Root layer (all packets).
constexpr size_t kPreamble = 0;
constexpr size_t kPostamble = 2;
constexpr size_t kIdentifier = 4;
constexpr size_t kRootLength = 16;
constexpr size_t kRootVector = 18;
constexpr size_t kCid = 22;
constexpr size_t kFramingLength = 38;
constexpr size_t kFramingVector = 40;

// Data packet framing and DMP layers.
constexpr size_t kDataSourceName = 44;
constexpr size_t kDataPriority = 108;
constexpr size_t kDataSyncAddress = 109;
constexpr size_t kDataSequence = 111;
constexpr size_t kDataOptions = 112;
constexpr size_t kDataUniverse = 113;
constexpr size_t kDmpLength = 115;
constexpr size_t kDmpVector = 117;
constexpr size_t kDmpAddressTypeField = 118;
constexpr size_t kDmpFirstAddress = 119;
constexpr size_t kDmpIncrement = 121;
constexpr size_t kDmpPropertyCount = 123;
constexpr size_t kDmpStartCode = 125;
constexpr size_t kDmpSlots = 126;

// Sync packet framing layer.
constexpr size_t kSyncSequence = 44;
constexpr size_t kSyncAddress = 45;
constexpr size_t kSyncReserved = 47;

// Discovery packet framing and universe discovery layers.
constexpr size_t kDiscoverySourceName = 44;
constexpr size_t kDiscoveryReserved = 108;
constexpr size_t kDiscoveryLength = 112;
constexpr size_t kDiscoveryVector = 114;
constexpr size_t kDiscoveryPage = 118;
constexpr size_t kDiscoveryLastPage = 119;
constexpr size_t kDiscoveryList = 120;

}  // namespace ombrix::protocols::sacn

#endif  // OMBRIX_PROTOCOLS_SACN_LAYOUT_H
