// The API table over a library linked into the program rather than loaded
// at run time: for the bridge's tests and benchmarks, which run the tool's
// code in-process on the simulator.
#ifndef OMBRIX_TOOL_LINKED_API_H
#define OMBRIX_TOOL_LINKED_API_H

#include <dlfcn.h>

#include "client/api.h"

namespace ombrix_tool {

inline Api LinkedSimulatorApi() {
  Api api;
#define OMBRIX_TOOL_LINKED(name) api.name = &::name;
#define OMBRIX_API_EXPORT(name, argument_bytes) OMBRIX_TOOL_LINKED(name)
#include "ombrix_exports.def.h"
  OMBRIX_TOOL_SIM_FUNCTIONS(OMBRIX_TOOL_LINKED)
#undef OMBRIX_TOOL_LINKED
  // Looked up rather than linked, as the tool does, so that a simulator
  // without it still links.
  api.OmbrixSimSetLoopback =
      reinterpret_cast<decltype(api.OmbrixSimSetLoopback)>(dlsym(RTLD_DEFAULT, "OmbrixSimSetLoopback"));
  api.simulated = true;
  return api;
}

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_LINKED_API_H
