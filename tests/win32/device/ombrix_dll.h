// Ombrix_USB.dll as an application meets it: loaded by name with
// LoadLibraryA, each export resolved with GetProcAddress and called through
// the pointer type of its declaration in the public header, so on 32-bit
// every call and every callback goes through the stdcall convention the
// header declares.
#ifndef OMBRIX_TESTS_WIN32_DEVICE_OMBRIX_DLL_H
#define OMBRIX_TESTS_WIN32_DEVICE_OMBRIX_DLL_H

#include <windows.h>

#include <string>

#include "ombrix_usb.h"

// clang-format off: one entry per line, which it would run together
#define OMBRIX_DLL_EXPORTS(X)                     \
  X(GetAllConnectedInterfaces)                    \
  X(GetDeviceTyp)                                 \
  X(GetDeviceVersion)                             \
  X(OpenLink)                                     \
  X(CloseLink)                                    \
  X(CloseAllLinks)                                \
  X(GetAllOpenedInterfaces)                       \
  X(SendDmxUniverse)                              \
  X(SetInterfaceMode)                             \
  X(SetInterfaceAdvTxConfig)                      \
  X(StoreInterfaceAdvTxConfig)                    \
  X(GetInterfaceConfig)                           \
  X(RegisterInputChangeNotification)              \
  X(UnregisterInputChangeNotification)            \
  X(RegisterInputChangeBlockNotification)         \
  X(UnregisterInputChangeBlockNotification)       \
  X(RegisterInterfaceChangeNotification)          \
  X(UnregisterInterfaceChangeNotification)        \
  X(RegisterHeartbeatNotification)                \
  X(UnregisterHeartbeatNotification)              \
  X(RegisterInputChangeBlockNotificationSerial)   \
  X(UnregisterInputChangeBlockNotificationSerial) \
  X(RegisterInterfaceChangeNotificationSerial)    \
  X(UnregisterInterfaceChangeNotificationSerial)
// clang-format on

namespace device_test {

struct OmbrixDll {
#define OMBRIX_DLL_MEMBER(name) decltype(&::name) name = nullptr;
  OMBRIX_DLL_EXPORTS(OMBRIX_DLL_MEMBER)
#undef OMBRIX_DLL_MEMBER

  HMODULE module = nullptr;
  std::string error;  // why loading failed; empty once all 24 are resolved

  bool loaded() const { return error.empty(); }
};

// The process's one loaded copy of the DLL (loaded on first use, kept until
// the process ends: unloading it would not close links).
const OmbrixDll& Dll();

}  // namespace device_test

#endif  // OMBRIX_TESTS_WIN32_DEVICE_OMBRIX_DLL_H
