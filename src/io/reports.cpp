#include "io/reports.h"

#include <cstring>

#include "registry/products.h"
#include "registry/shared_bytes.h"

namespace ombrix {

void BuildDmxBlockReport(uint8_t* payload, uint8_t type, const uint8_t* blockData) {
  payload[0] = type;
  std::memcpy(payload + 1, blockData, kBlockBytes);
}

void BuildSetModeReport(uint8_t* payload, uint8_t mode) {
  std::memset(payload, 0, kPayloadBytes);
  payload[0] = kTypeSetMode;
  payload[1] = mode;
}

void BuildStoreConfigReport(uint8_t* payload) {
  std::memset(payload, 0, kPayloadBytes);
  payload[0] = kTypeStoreConfig;
  payload[1] = 0x01;
}

void BuildAdvTxConfigReport(uint8_t* payload, int32_t byteValue, int32_t param1, int32_t param2, int32_t param3,
                            int32_t param4) {
  std::memset(payload, 0, kPayloadBytes);
  payload[0] = kTypeAdvTxConfig;
  payload[1] = static_cast<uint8_t>(byteValue);
  payload[2] = static_cast<uint8_t>(param1);
  payload[4] = static_cast<uint8_t>(param2);
  payload[6] = static_cast<uint8_t>(param3);
  payload[8] = static_cast<uint8_t>(param4);
  payload[10] = 0x00;  // length 512, little-endian
  payload[11] = 0x02;
}

void FrameReport(uint8_t* report, const uint8_t* payload) {
  report[0] = 0;
  std::memcpy(report + 1, payload, kPayloadBytes);
}

uint8_t BlockReportType(const Link& link, int block, bool fromQueue) {
  const Product* product = FindProduct(link.vendorId, link.productId);
  bool frameVariant = fromQueue && product != nullptr && product->frameVariant;
  return static_cast<uint8_t>(frameVariant ? kTypeFrameBlockBase + block : block);
}

namespace {

uint16_t Little16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8)); }

}  // namespace

Decoded DecodeReport(Link& link, const uint8_t* report, uint32_t length) {
  if (length < kReportBytes) return {Received::kNothing, 0};
  const uint8_t* payload = report + 1;  // the report ID is not examined
  uint8_t type = payload[0];
  if (type < kBlockCount) {
    if (link.inputUniverse == nullptr) return {Received::kNothing, 0};
    StoreSharedBytes(link.inputUniverse + type * kBlockBytes, payload + 1, kBlockBytes);
    return {Received::kInputBlock, type};
  }
  if (type == kTypeAdvTxConfig) {
    platform::LockGuard guard(link.configLock);
    link.cfgByte = payload[1];
    link.cfgParam1 = Little16(payload + 2);
    link.cfgParam2 = Little16(payload + 4);
    link.cfgParam3 = Little16(payload + 6);
    link.cfgParam4 = Little16(payload + 8);
    link.cfgLength = Little16(payload + 10);
    link.cfgLastByte = payload[12];
    return {Received::kConfigReadback, 0};
  }
  if (type == kTypeHeartbeat) return {Received::kHeartbeat, 0};
  return {Received::kNothing, 0};
}

}  // namespace ombrix
