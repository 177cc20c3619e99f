// SetInterfaceMode, SetInterfaceAdvTxConfig, StoreInterfaceAdvTxConfig and
// GetInterfaceConfig. None of them touches the device: each leaves a request
// in the link for the I/O thread, or reads the cache.
#include "io/reports.h"
#include "ombrix_usb.h"
#include "registry/library_threads.h"
#include "registry/registry.h"

using namespace ombrix;

namespace {

bool Closing(const Link& link) {
  uint8_t control = link.control.load(std::memory_order_acquire);
  return control == kControlClose || control == kControlClosed;
}

}  // namespace

extern "C" {

OMBRIX_API int32_t OMBRIX_CALL SetInterfaceMode(const uint8_t* serial, int32_t mode) {
  LinkRef link(serial);  // pinned: CloseLink waits until this call is done
  if (!link) return 0;
  uint8_t requested = static_cast<uint8_t>(mode & 0xFF);
  link->modeRequested.store(requested, std::memory_order_release);
  // On a library thread the wait could never end; the request is taken up
  // on the I/O thread's next pass over the link.
  if (OnLibraryThread()) return 1;
  while (link->modeRequested.load(std::memory_order_acquire) != link->modeActive.load(std::memory_order_acquire)) {
    if (Closing(*link.get())) return 0;
    platform::SleepMillis(1);
  }
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL SetInterfaceAdvTxConfig(const uint8_t* serial, int32_t byteValue, int32_t param1,
                                                       int32_t param2, int32_t param3, int32_t param4,
                                                       int32_t /*length*/, int32_t /*finalByte*/) {
  LinkRef link(serial);
  if (!link) return 0;
  {
    // The I/O thread copies the payload under the same lock: it sends
    // either the previous request whole or this one whole, never a mix,
    // and this request is never lost behind the clearing of the previous.
    platform::LockGuard guard(link->commandLock);
    link->storePending.store(0, std::memory_order_release);
    link->advTxPending.store(0, std::memory_order_release);
    BuildAdvTxConfigReport(link->advTxPayload, byteValue, param1, param2, param3, param4);
    {
      platform::LockGuard cache(link->configLock);
      link->cfgByte = static_cast<uint8_t>(byteValue);
      link->cfgParam1 = static_cast<uint16_t>(param1);
      link->cfgParam2 = static_cast<uint16_t>(param2);
      link->cfgParam3 = static_cast<uint16_t>(param3);
      link->cfgParam4 = static_cast<uint16_t>(param4);
      link->cfgLength = 512;
      link->cfgLastByte = 0;
    }
    link->advTxPending.store(1, std::memory_order_release);
  }
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL StoreInterfaceAdvTxConfig(const uint8_t* serial) {
  LinkRef link(serial);
  if (!link) return 0;
  platform::LockGuard guard(link->commandLock);
  link->storePending.store(1, std::memory_order_release);
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL GetInterfaceConfig(const uint8_t* serial, uint8_t* byteValue, uint16_t* param1,
                                                  uint16_t* param2, uint16_t* param3, uint16_t* param4,
                                                  uint16_t* length, uint16_t* finalByte) {
  LinkRef link(serial);
  if (!link) return 0;
  platform::LockGuard guard(link->configLock);
  if (byteValue != nullptr) *byteValue = link->cfgByte;
  if (param1 != nullptr) *param1 = link->cfgParam1;
  if (param2 != nullptr) *param2 = link->cfgParam2;
  if (param3 != nullptr) *param3 = link->cfgParam3;
  if (param4 != nullptr) *param4 = link->cfgParam4;
  if (length != nullptr) *length = link->cfgLength;
  if (finalByte != nullptr) *finalByte = link->cfgLastByte;
  return 1;
}

}  // extern "C"
