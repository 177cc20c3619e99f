#include "api.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

namespace ombrix_tool {
namespace {

// The directory of the running executable, with a trailing slash; empty
// when /proc is not available.
std::string ExecutableDirectory() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) return {};
  std::string text(path, static_cast<size_t>(length));
  size_t slash = text.rfind('/');
  return slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
}

// Where the library may be, nearest first, so that a build tree or an
// install prefix uses its own copy rather than another one on the system.
std::vector<std::string> Candidates(const std::string& file) {
  std::string here = ExecutableDirectory();
  std::vector<std::string> candidates;
  if (!here.empty()) {
    candidates.push_back(here + file);
    candidates.push_back(here + OMBRIX_TOOL_LIBDIR_FROM_BINDIR "/" + file);
    candidates.push_back(here + OMBRIX_TOOL_BUILD_LIBDIR "/" + file);
  }
  candidates.push_back(std::string(OMBRIX_TOOL_INSTALL_LIBDIR "/") + file);
  candidates.push_back(file);  // the system's search path
  return candidates;
}

void* OpenFirst(const std::string& file, std::string* lastError) {
  for (const std::string& candidate : Candidates(file)) {
    // A relative candidate without a slash goes to the system search path;
    // the others must exist, so skip the ones that do not.
    if (candidate.find('/') != std::string::npos && access(candidate.c_str(), R_OK) != 0) continue;
    void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) return handle;
    const char* why = dlerror();
    *lastError = why != nullptr ? why : "unknown loader error";
  }
  return nullptr;
}

template <typename Pointer>
bool Resolve(void* handle, const char* name, Pointer* slot, std::string* missing) {
  *slot = reinterpret_cast<Pointer>(dlsym(handle, name));
  if (*slot == nullptr && missing->empty()) *missing = name;
  return *slot != nullptr;
}

}  // namespace

bool LoadApi(bool simulated, Api* api, std::string* error) {
  const std::string file = simulated ? "libombrix_usb_sim.so.0" : "libombrix_usb.so.0";
  std::string loaderError;
  void* handle = OpenFirst(file, &loaderError);
  if (handle == nullptr) {
    *error = "The " + std::string(simulated ? "simulator" : "Ombrix_USB") + " library " + file +
             " could not be loaded (" + loaderError + ").";
    if (!simulated) *error += " Use --sim to run on simulated interfaces.";
    return false;
  }
  std::string missing;
#define OMBRIX_TOOL_RESOLVE(name) Resolve(handle, #name, &api->name, &missing);
  OMBRIX_TOOL_API_FUNCTIONS(OMBRIX_TOOL_RESOLVE)
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
