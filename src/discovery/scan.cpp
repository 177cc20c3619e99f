#include "discovery/scan.h"

#include <cstring>

namespace ombrix {

int32_t TypeCode(uint16_t vendorId, uint16_t productId) {
  const Product* product = FindProduct(vendorId, productId);
  return product == nullptr ? 0 : product->typeCode;
}

namespace {

// Reads attributes, capabilities and serial of an open device. False when
// the device is to be passed over (not of the family, or a query failed).
bool Identify(platform::Device device, bool queryCaps, ScannedInterface* found) {
  found->device = device;
  if (!platform::HidGetAttributes(device, &found->attributes)) return false;
  if (!IsSupportedInterface(found->attributes.vendorId, found->attributes.productId)) return false;
  platform::Preparsed preparsed = platform::HidGetPreparsedData(device);
  if (preparsed == nullptr) return false;
  bool capsOk = !queryCaps || platform::HidGetCaps(preparsed);
  platform::HidFreePreparsedData(preparsed);
  if (!capsOk) return false;

  // Cleared before every read, so the units after a short serial's
  // terminator are 0 and never carry an earlier device's serial.
  uint16_t units[kSerialStringBytes / 2] = {};
  found->serialReadable = platform::HidGetSerialNumberString(device, units, kSerialStringBytes);
  found->firstUnit = units[0];
  for (int i = 0; i < kSerialBytes; ++i) found->serial[i] = static_cast<uint8_t>(units[i] & 0xFF);
  return true;
}

}  // namespace

void ScanInterfaces(bool queryCaps, ScanVisitor visit, void* context) {
  platform::DeviceSet set = platform::DeviceSetOpen();
  if (set == nullptr) return;
  for (uint32_t index = 0; platform::DeviceSetHasInterface(set, index); ++index) {
    platform::DevicePath path = platform::DeviceSetInterfacePath(set, index);
    if (path == nullptr) continue;
    platform::Device device = platform::DeviceOpen(path);
    platform::DevicePathFree(path);
    if (device == nullptr) continue;

    ScannedInterface found{};
    ScanDecision decision = Identify(device, queryCaps, &found) ? visit(found, context) : ScanDecision::kPassOver;
    if (decision != ScanDecision::kEndAndKeep) platform::DeviceClose(device);
    if (decision != ScanDecision::kPassOver) break;
  }
  platform::DeviceSetClose(set);
}

}  // namespace ombrix
