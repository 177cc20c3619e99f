#include "registry/products.h"

namespace ombrix {

namespace {

// The first two products learnt heartbeats with release 0x0106.
constexpr int32_t kLastReleaseWithoutHeartbeats = 0x0105;

constexpr Product kProducts[] = {
    {0x0754, 1, kLastReleaseWithoutHeartbeats, false},
    {0x0830, 1, kLastReleaseWithoutHeartbeats, false},
    {0x0832, 2, kHeartbeatsAtAnyRelease, true},
    {0x0833, 3, kHeartbeatsAtAnyRelease, true},
};

}  // namespace

const Product* FindProduct(uint16_t vendorId, uint16_t productId) {
  if (vendorId != kFamilyVendorId) return nullptr;
  for (const Product& product : kProducts) {
    if (product.productId == productId) return &product;
  }
  return nullptr;
}

}  // namespace ombrix
