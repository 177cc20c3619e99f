// HID half of the platform contract over the Windows HID class driver
// (hid.dll), the device installation functions (setupapi.dll) and
// overlapped file I/O.
//
// A Device is the file HANDLE itself, and an Overlapped's native storage is
// the OVERLAPPED that the system fills in, so a transfer's completion state
// lives exactly as long as the core keeps the Overlapped record: the core
// collects every cancelled transfer with OverlappedResult(wait=true) before
// it reuses or frees that record and its buffer.
#include <windows.h>
#include <setupapi.h>
// MinGW-w64's HID headers declare no C linkage of their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "platform/win32/win32_handles.h"

namespace ombrix::platform {

static_assert(sizeof(OVERLAPPED) <= sizeof(Overlapped::native), "OVERLAPPED does not fit");
static_assert(alignof(OVERLAPPED) <= 8, "OVERLAPPED storage under-aligned");

struct DeviceSetObject {
  HDEVINFO info;
  GUID hidGuid;
  // The member last fetched by DeviceSetHasInterface, so that the path
  // query that usually follows does not enumerate it again.
  uint32_t cachedIndex;
  bool cached;
  SP_DEVICE_INTERFACE_DATA cachedData;
};

// The detail block as SetupDiGetDeviceInterfaceDetailA filled it; its
// DevicePath is NUL-terminated inside the zero-filled block.
struct DevicePathObject {
  SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail;
};

namespace {

OVERLAPPED* Native(Overlapped* overlapped) { return reinterpret_cast<OVERLAPPED*>(overlapped->native); }

bool FetchInterface(DeviceSet set, uint32_t index, SP_DEVICE_INTERFACE_DATA* data) {
  if (set->cached && set->cachedIndex == index) {
    *data = set->cachedData;
    return true;
  }
  std::memset(data, 0, sizeof *data);
  data->cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);  // 28 on 32-bit, 32 on 64-bit
  if (!SetupDiEnumDeviceInterfaces(set->info, nullptr, &set->hidGuid, index, data)) return false;
  set->cachedIndex = index;
  set->cachedData = *data;
  set->cached = true;
  return true;
}

IoStart FromStart(BOOL started) {
  if (started) return IoStart::kCompleted;
  return GetLastError() == ERROR_IO_PENDING ? IoStart::kPending : IoStart::kFailed;
}

}  // namespace

// ---- The set of present HID device interfaces ----------------------------------

DeviceSet DeviceSetOpen() {
  GUID hidGuid;
  HidD_GetHidGuid(&hidGuid);
  HDEVINFO info = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (info == INVALID_HANDLE_VALUE) return nullptr;
  DeviceSetObject* set = new (std::nothrow) DeviceSetObject{};
  if (set == nullptr) {
    SetupDiDestroyDeviceInfoList(info);
    return nullptr;
  }
  set->info = info;
  set->hidGuid = hidGuid;
  return set;
}

bool DeviceSetHasInterface(DeviceSet set, uint32_t index) {
  SP_DEVICE_INTERFACE_DATA data;
  return FetchInterface(set, index, &data);
}

DevicePath DeviceSetInterfacePath(DeviceSet set, uint32_t index) {
  SP_DEVICE_INTERFACE_DATA data;
  if (!FetchInterface(set, index, &data)) return nullptr;
  // The size query always "fails" with ERROR_INSUFFICIENT_BUFFER; only the
  // size it reports matters.
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(set->info, &data, nullptr, 0, &required, nullptr);
  // A size that cannot hold the fixed part and one character would make
  // the fetch write past the block.
  constexpr DWORD kSmallest = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 1;
  if (required < kSmallest || required > 64u * 1024u) return nullptr;
  // One byte more than asked, so the path stays terminated whatever the
  // fetch writes.
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, required + 1));
  if (detail == nullptr) return nullptr;
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);  // 5 on 32-bit, 8 on 64-bit
  DevicePathObject* path = nullptr;
  if (SetupDiGetDeviceInterfaceDetailA(set->info, &data, detail, required, nullptr, nullptr)) {
    path = new (std::nothrow) DevicePathObject{detail};
  }
  if (path == nullptr) std::free(detail);
  return path;
}

void DevicePathFree(DevicePath path) {
  if (path == nullptr) return;
  std::free(path->detail);
  delete path;
}

void DeviceSetClose(DeviceSet set) {
  if (set == nullptr) return;
  SetupDiDestroyDeviceInfoList(set->info);
  delete set;
}

// ---- Device handles and HID queries ------------------------------------------------

Device DeviceOpen(DevicePath path) {
  HANDLE handle =
      CreateFileA(path->detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return DeviceFromHandle(handle);
}

void DeviceClose(Device device) {
  if (device != nullptr) CloseHandle(HandleOf(device));
}

bool HidGetAttributes(Device device, HidAttributes* attributes) {
  HIDD_ATTRIBUTES native{};
  native.Size = sizeof native;  // 12
  if (!HidD_GetAttributes(HandleOf(device), &native)) return false;
  attributes->vendorId = native.VendorID;
  attributes->productId = native.ProductID;
  attributes->versionNumber = native.VersionNumber;
  return true;
}

Preparsed HidGetPreparsedData(Device device) {
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(HandleOf(device), &preparsed)) return nullptr;
  return reinterpret_cast<Preparsed>(preparsed);
}

bool HidGetCaps(Preparsed preparsed) {
  HIDP_CAPS caps{};
  return HidP_GetCaps(reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed), &caps) == HIDP_STATUS_SUCCESS;
}

void HidFreePreparsedData(Preparsed preparsed) {
  if (preparsed != nullptr) HidD_FreePreparsedData(reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed));
}

bool HidGetSerialNumberString(Device device, uint16_t* buffer, uint32_t bufferBytes) {
  static_assert(sizeof(WCHAR) == sizeof(uint16_t), "serials are UTF-16");
  if (bufferBytes < sizeof(uint16_t)) return false;
  return HidD_GetSerialNumberString(HandleOf(device), buffer, bufferBytes) != FALSE;
}

// ---- Overlapped transfers ----------------------------------------------------------------

void OverlappedPrepare(Overlapped* overlapped, Event event) {
  overlapped->event = event;
  overlapped->status.store(0, std::memory_order_relaxed);
  overlapped->transferred.store(0, std::memory_order_relaxed);
  overlapped->request = nullptr;
  std::memset(overlapped->native, 0, sizeof overlapped->native);
  Native(overlapped)->hEvent = reinterpret_cast<HANDLE>(event);
}

// Called on the thread that owns the transfer (the I/O thread, or the
// caller of the blocking write). Neither blocks: the handle is overlapped.
IoStart DeviceWrite(Device device, const uint8_t* data, uint32_t length, Overlapped* overlapped) {
  return FromStart(WriteFile(HandleOf(device), data, length, nullptr, Native(overlapped)));
}

IoStart DeviceRead(Device device, uint8_t* buffer, uint32_t length, Overlapped* overlapped) {
  return FromStart(ReadFile(HandleOf(device), buffer, length, nullptr, Native(overlapped)));
}

bool OverlappedResult(Device device, Overlapped* overlapped, uint32_t* transferred, bool wait) {
  DWORD count = 0;
  if (!GetOverlappedResult(HandleOf(device), Native(overlapped), &count, wait ? TRUE : FALSE)) return false;
  if (transferred != nullptr) *transferred = count;
  return true;
}

// CancelIo, not CancelIoEx: only the calling thread's transfers end, so a
// blocking write that times out on an application thread never cancels the
// read that the I/O thread keeps outstanding on the same handle.
void DeviceCancelIo(Device device) { CancelIo(HandleOf(device)); }

}  // namespace ombrix::platform
