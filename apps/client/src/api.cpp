#include "client/api.h"

#include "client/library_loader.h"

namespace ombrix_tool {
namespace {

template <typename Pointer>
bool Resolve(void* handle, const char* name, Pointer* slot, std::string* missing) {
  *slot = reinterpret_cast<Pointer>(FindFunction(handle, name));
  if (*slot == nullptr && missing->empty()) *missing = name;
  return *slot != nullptr;
}

}  // namespace

bool LoadApi(bool simulated, Api* api, std::string* error) {
  const std::string file = LibraryFileName(simulated);
  std::string why;
  void* handle = OpenLibrary(file, &why);
  if (handle == nullptr) {
    *error = "The " + std::string(simulated ? "simulator" : "Ombrix_USB") + " library " + file +
             " could not be loaded (" + why + ").";
    if (!simulated) *error += " Use --sim to run on simulated interfaces.";
    return false;
  }
  std::string missing;
#define OMBRIX_TOOL_RESOLVE(name) Resolve(handle, #name, &api->name, &missing);
#define OMBRIX_API_EXPORT(name, argument_bytes) OMBRIX_TOOL_RESOLVE(name)
#include "ombrix_exports.def.h"
  if (simulated) {
    OMBRIX_TOOL_SIM_FUNCTIONS(OMBRIX_TOOL_RESOLVE)
    std::string optional;
    Resolve(handle, "OmbrixSimSetLoopback", &api->OmbrixSimSetLoopback, &optional);
  }
#undef OMBRIX_TOOL_RESOLVE
  if (!missing.empty()) {
    *error = "The library " + file + " does not export " + missing + "; it does not belong to this tool.";
    return false;
  }
  api->simulated = simulated;
  return true;
}

}  // namespace ombrix_tool
