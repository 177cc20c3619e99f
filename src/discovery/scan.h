// The walk over the present HID device interfaces, written once for its
// four users: the serial listing, the type and version look-ups, and the
// open scan behind OpenLink. Each user decides, per supported interface,
// whether the walk goes on and whether the handle is kept.
#ifndef OMBRIX_DISCOVERY_SCAN_H
#define OMBRIX_DISCOVERY_SCAN_H

#include <cstdint>

#include "platform/platform.h"
#include "registry/link.h"
#include "registry/products.h"

namespace ombrix {

// The serial-number string is read into 100 UTF-16 code units.
constexpr uint32_t kSerialStringBytes = 200;

// The product's type code, 0 for a device outside the family.
int32_t TypeCode(uint16_t vendorId, uint16_t productId);
inline bool IsSupportedInterface(uint16_t vendorId, uint16_t productId) { return TypeCode(vendorId, productId) != 0; }

// What the walk learnt of one supported interface.
struct ScannedInterface {
  platform::Device device;
  platform::HidAttributes attributes;
  bool serialReadable;
  // Narrowed serial: the low byte of each of the first 16 code units.
  uint8_t serial[kSerialBytes];
  // The string's first code unit; 0 for an empty string.
  uint16_t firstUnit;
};

enum class ScanDecision {
  kPassOver,     // close the handle, go on with the next interface
  kEndAndClose,  // close the handle, end the walk
  kEndAndKeep,   // keep the handle open (open scan only), end the walk
};

using ScanVisitor = ScanDecision (*)(const ScannedInterface& found, void* context);

// Walks the present HID interfaces in enumeration order and hands each
// supported one to visit. queryCaps=false leaves out the capability query
// (the type look-up needs only the preparsed data). Every resource taken
// is released on every path, except a handle the visitor keeps.
void ScanInterfaces(bool queryCaps, ScanVisitor visit, void* context);

}  // namespace ombrix

#endif  // OMBRIX_DISCOVERY_SCAN_H
