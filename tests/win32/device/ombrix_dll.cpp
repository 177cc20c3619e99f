#include "ombrix_dll.h"

namespace device_test {
namespace {

OmbrixDll Load() {
  OmbrixDll dll;
  dll.module = LoadLibraryA("Ombrix_USB.dll");
  if (dll.module == nullptr) {
    dll.error = "LoadLibraryA(\"Ombrix_USB.dll\") failed with error " + std::to_string(GetLastError());
    return dll;
  }
#define OMBRIX_DLL_RESOLVE(name)                                                                              \
  dll.name = reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>(GetProcAddress(dll.module, #name))); \
  if (dll.name == nullptr) dll.error += std::string(dll.error.empty() ? "" : ", ") + "no export " #name;
  OMBRIX_DLL_EXPORTS(OMBRIX_DLL_RESOLVE)
#undef OMBRIX_DLL_RESOLVE
  return dll;
}

}  // namespace

const OmbrixDll& Dll() {
  static const OmbrixDll dll = Load();
  return dll;
}

}  // namespace device_test
