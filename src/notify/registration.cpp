// The twelve registration exports. Each changes a callback slot only while
// the links that could call it are Paused, so no library thread runs the
// old value once the export returns.
#include "ombrix_usb.h"
#include "registry/handshake.h"
#include "registry/library_threads.h"
#include "registry/products.h"
#include "registry/registry.h"

using namespace ombrix;

namespace {

bool QualifiesForHeartbeat(const Link& link) {
  const Product* product = FindProduct(link.vendorId, link.productId);
  return product != nullptr && link.releaseNumber > product->heartbeatsAboveRelease;
}

template <typename Callback>
int32_t SetGlobalSlot(std::atomic<Callback>& slot, Callback value) {
  if (OnLibraryThread()) return 0;
  platform::LockGuard control(ControlLock());
  if (Registry().head.load(std::memory_order_acquire) == nullptr) {
    slot.store(value, std::memory_order_release);
    return 1;
  }
  PauseAllLinks();
  slot.store(value, std::memory_order_release);
  ResumeAllLinks();
  return 1;
}

// Runs change on the link found by serial while it is Paused. Returns the
// link's id, 0 when no link has the serial or change refuses.
template <typename Change>
int32_t WithLinkPaused(const uint8_t* serial, Change change) {
  if (serial == nullptr || OnLibraryThread()) return 0;
  platform::LockGuard control(ControlLock());
  Link* link = FindLinkBySerial(serial);
  if (link == nullptr) return 0;
  PauseLink(*link);
  bool accepted = change(*link);
  ResumeLink(*link);
  return accepted ? link->linkId : 0;
}

}  // namespace

extern "C" {

OMBRIX_API int32_t OMBRIX_CALL RegisterInputChangeNotification(InputChangeCallback callback) {
  return SetGlobalSlot(Registry().onInputChange, callback);
}
OMBRIX_API int32_t OMBRIX_CALL UnregisterInputChangeNotification(void) {
  return SetGlobalSlot(Registry().onInputChange, InputChangeCallback{nullptr});
}
OMBRIX_API int32_t OMBRIX_CALL RegisterInputChangeBlockNotification(InputChangeBlockCallback callback) {
  return SetGlobalSlot(Registry().onInputChangeBlock, callback);
}
OMBRIX_API int32_t OMBRIX_CALL UnregisterInputChangeBlockNotification(void) {
  return SetGlobalSlot(Registry().onInputChangeBlock, InputChangeBlockCallback{nullptr});
}
OMBRIX_API int32_t OMBRIX_CALL RegisterInterfaceChangeNotification(InterfaceChangeCallback callback) {
  return SetGlobalSlot(Registry().onInterfaceChange, callback);
}
OMBRIX_API int32_t OMBRIX_CALL UnregisterInterfaceChangeNotification(void) {
  return SetGlobalSlot(Registry().onInterfaceChange, InterfaceChangeCallback{nullptr});
}

OMBRIX_API int32_t OMBRIX_CALL RegisterHeartbeatNotification(const uint8_t* serial, HeartbeatCallback callback) {
  return WithLinkPaused(serial, [callback](Link& link) {
    if (!QualifiesForHeartbeat(link)) return false;  // the earlier callback stays
    Registry().onHeartbeat.store(callback, std::memory_order_release);
    return true;
  });
}

OMBRIX_API int32_t OMBRIX_CALL UnregisterHeartbeatNotification(const uint8_t* serial) {
  return WithLinkPaused(serial, [](Link&) {
           Registry().onHeartbeat.store(nullptr, std::memory_order_release);
           return true;
         }) != 0;
}

OMBRIX_API int32_t OMBRIX_CALL RegisterInputChangeBlockNotificationSerial(const uint8_t* serial,
                                                                          InputChangeBlockSerialCallback callback) {
  return WithLinkPaused(serial, [callback](Link& link) {
    link.onInputChangeBlock.store(callback, std::memory_order_release);
    return true;
  });
}

OMBRIX_API int32_t OMBRIX_CALL UnregisterInputChangeBlockNotificationSerial(const uint8_t* serial) {
  return WithLinkPaused(serial, [](Link& link) {
           link.onInputChangeBlock.store(nullptr, std::memory_order_release);
           return true;
         }) != 0;
}

OMBRIX_API int32_t OMBRIX_CALL RegisterInterfaceChangeNotificationSerial(const uint8_t* serial,
                                                                         InterfaceChangeSerialCallback callback) {
  return WithLinkPaused(serial, [callback](Link& link) {
    link.onInterfaceChange.store(callback, std::memory_order_release);
    return true;
  });
}

OMBRIX_API int32_t OMBRIX_CALL UnregisterInterfaceChangeNotificationSerial(const uint8_t* serial) {
  return WithLinkPaused(serial, [](Link& link) {
           link.onInterfaceChange.store(nullptr, std::memory_order_release);
           return true;
         }) != 0;
}

}  // extern "C"
