// GetAllConnectedInterfaces, GetDeviceTyp and GetDeviceVersion.
#include <cstring>

#include "discovery/scan.h"
#include "discovery/serial_list.h"
#include "ombrix_usb.h"
#include "registry/registry.h"

using namespace ombrix;

namespace {

struct ListContext {
  uint8_t* serialList;
  int count;
};

ScanDecision ListVisitor(const ScannedInterface& found, void* context) {
  auto* list = static_cast<ListContext*>(context);
  if (!found.serialReadable) return ScanDecision::kPassOver;
  std::memcpy(list->serialList + list->count * kSerialBytes, found.serial, kSerialBytes);
  return ++list->count == kSerialListSlots ? ScanDecision::kEndAndClose : ScanDecision::kPassOver;
}

struct MatchContext {
  const uint8_t* serial;
  bool taken;
  ScannedInterface found;
};

ScanDecision MatchVisitor(const ScannedInterface& found, void* context) {
  auto* match = static_cast<MatchContext*>(context);
  if (!found.serialReadable || std::memcmp(found.serial, match->serial, kSerialBytes) != 0) {
    return ScanDecision::kPassOver;
  }
  match->taken = true;
  match->found = found;
  return ScanDecision::kEndAndClose;
}

MatchContext ScanForSerial(const uint8_t* serial, bool queryCaps) {
  MatchContext match{serial, false, {}};
  ScanInterfaces(queryCaps, MatchVisitor, &match);
  return match;
}

}  // namespace

extern "C" {

OMBRIX_API void OMBRIX_CALL GetAllConnectedInterfaces(uint8_t* serialList) {
  if (serialList == nullptr) return;
  FillSerialList(serialList);
  ListContext list{serialList, 0};
  ScanInterfaces(true, ListVisitor, &list);
}

OMBRIX_API int32_t OMBRIX_CALL GetDeviceTyp(const uint8_t* serial) {
  if (serial == nullptr) return 0;
  MatchContext match = ScanForSerial(serial, false);
  if (!match.taken) return 0;
  return TypeCode(match.found.attributes.vendorId, match.found.attributes.productId);
}

OMBRIX_API int32_t OMBRIX_CALL GetDeviceVersion(const uint8_t* serial) {
  if (serial == nullptr) return 0;
  {
    LinkReadSection section;
    if (Link* link = FindLinkBySerial(serial)) return link->releaseNumber;
  }
  MatchContext match = ScanForSerial(serial, true);
  return match.taken ? match.found.attributes.versionNumber : 0;
}

}  // extern "C"
