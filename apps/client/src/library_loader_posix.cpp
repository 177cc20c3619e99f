#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <vector>

#include "client/library_loader.h"

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

}  // namespace

std::string LibraryFileName(bool simulated) { return simulated ? "libombrix_usb_sim.so.0" : "libombrix_usb.so.0"; }

void* OpenLibrary(const std::string& file, std::string* why) {
  *why = "not found";
  for (const std::string& candidate : Candidates(file)) {
    // A relative candidate without a slash goes to the system search path;
    // the others must exist, so skip the ones that do not.
    if (candidate.find('/') != std::string::npos && access(candidate.c_str(), R_OK) != 0) continue;
    void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) return handle;
    const char* error = dlerror();
    *why = error != nullptr ? error : "unknown loader error";
  }
  return nullptr;
}

void* FindFunction(void* library, const char* name) { return dlsym(library, name); }

}  // namespace ombrix_tool
