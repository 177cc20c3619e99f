// How the Win32 backend represents the contract's opaque device handle: the
// file HANDLE itself. Shared by the backend and by tests that drive the
// transfer operations over other overlapped handles (pipes), since no HID
// device is at hand where the tests run.
#ifndef OMBRIX_PLATFORM_WIN32_WIN32_HANDLES_H
#define OMBRIX_PLATFORM_WIN32_WIN32_HANDLES_H

#include <windows.h>

#include "platform/platform.h"

namespace ombrix::platform {

// CreateFile never yields a null handle for an open file, so null stays free
// to mean "no device".
inline Device DeviceFromHandle(HANDLE handle) { return reinterpret_cast<Device>(handle); }
inline HANDLE HandleOf(Device device) { return reinterpret_cast<HANDLE>(device); }

}  // namespace ombrix::platform

#endif  // OMBRIX_PLATFORM_WIN32_WIN32_HANDLES_H
