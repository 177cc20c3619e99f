// The products of the family and what each one does differently: the one
// place to add a product ID. Discovery lists only what is in the table,
// the heartbeat registration asks it which interfaces send heartbeats, and
// the report codec which ones take the frame variant of a block.
#ifndef OMBRIX_REGISTRY_PRODUCTS_H
#define OMBRIX_REGISTRY_PRODUCTS_H

#include <cstdint>

namespace ombrix {

constexpr uint16_t kFamilyVendorId = 0x16D0;

// Release numbers (bcdDevice) are 16-bit, so this is below every release:
// the product sends heartbeats whatever its firmware.
constexpr int32_t kHeartbeatsAtAnyRelease = -1;

struct Product {
  uint16_t productId;
  // GetDeviceTyp's answer for it.
  int32_t typeCode;
  // Heartbeats come from releases above this one.
  int32_t heartbeatsAboveRelease;
  // Queued universes go out as frame blocks (type 0x20 + n), which tell the
  // device where a universe starts; polled blocks keep the plain index.
  bool frameVariant;
};

// The family's product of productId under vendorId, or null for any other
// device.
const Product* FindProduct(uint16_t vendorId, uint16_t productId);

}  // namespace ombrix

#endif  // OMBRIX_REGISTRY_PRODUCTS_H
