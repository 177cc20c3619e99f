// CloseLink, CloseAllLinks and GetAllOpenedInterfaces.
#include <cstring>

#include "discovery/serial_list.h"
#include "ombrix_usb.h"
#include "registry/handshake.h"
#include "registry/library_threads.h"
#include "registry/registry.h"

using namespace ombrix;

namespace {

bool IsZeroSerial(const uint8_t* serial) {
  static const uint8_t kZero[kSerialBytes] = {};
  return std::memcmp(serial, kZero, kSerialBytes) == 0;
}

}  // namespace

extern "C" {

OMBRIX_API int32_t OMBRIX_CALL CloseLink(const uint8_t* serial) {
  if (serial == nullptr || OnLibraryThread()) return 0;
  platform::LockGuard control(ControlLock());
  Link* link = FindLinkBySerial(serial);
  if (link == nullptr) return 0;

  RequestCloseAndWait(*link);
  // The record has left the registry. Exports that found it before may
  // still hold it: free it only once they are done.
  WaitForLinkReaders();
  while (link->pins.load(std::memory_order_acquire) != 0) platform::SleepMillis(1);
  platform::DeviceClose(link->device);
  delete link;

  // With the last link gone both threads end by themselves; collect them
  // so that the next OpenLink never meets a thread of this generation.
  if (!RegistryHasLinks()) CollectLibraryThreads();
  return 1;
}

OMBRIX_API int32_t OMBRIX_CALL CloseAllLinks(void) {
  if (OnLibraryThread()) return 0;
  platform::LockGuard control(ControlLock());
  int32_t result = 1;
  Link* link = Registry().head.load(std::memory_order_acquire);
  while (link != nullptr) {
    if (IsZeroSerial(link->serial)) {
      link = link->next.load(std::memory_order_acquire);
      continue;
    }
    uint8_t serial[kSerialBytes];
    std::memcpy(serial, link->serial, kSerialBytes);
    if (CloseLink(serial) == 1) {
      // The closed record is freed: start again from the head.
      link = Registry().head.load(std::memory_order_acquire);
    } else {
      result = 0;
      link = link->next.load(std::memory_order_acquire);
    }
  }
  return result;
}

OMBRIX_API void OMBRIX_CALL GetAllOpenedInterfaces(uint8_t* serialList) {
  if (serialList == nullptr) return;
  FillSerialList(serialList);
  LinkReadSection section;
  int count = 0;
  for (Link* link = Registry().head.load(std::memory_order_acquire); link != nullptr && count < kSerialListSlots;
       link = link->next.load(std::memory_order_acquire)) {
    if (link->isOpen.load(std::memory_order_acquire) == 0) continue;
    std::memcpy(serialList + count * kSerialBytes, link->serial, kSerialBytes);
    ++count;
  }
}

}  // extern "C"
