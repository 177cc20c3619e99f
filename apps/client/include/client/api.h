// The library's API as a table of function pointers, filled at run time.
//
// The tool loads either the real library or the simulator library when it
// starts, so that `--sim` works on a machine where the real library is not
// built or not installed, and so that a missing library is an error sentence
// rather than a loader failure before main().
#ifndef OMBRIX_TOOL_API_H
#define OMBRIX_TOOL_API_H

#include <string>

#include "ombrix_usb.h"
#include "ombrix_usb_sim.h"

namespace ombrix_tool {

// The 24 functions come from the library's list of exports
// (ombrix_exports.def.h, through the ombrix_export_list target), so the
// table cannot lack one. Of the simulator's control API the tool needs
// these:
// clang-format off: one entry per line, which it would run together
#define OMBRIX_TOOL_SIM_FUNCTIONS(X) \
  X(OmbrixSimReset)                  \
  X(OmbrixSimAddDevice)              \
  X(OmbrixSimSetWriteBehaviour)      \
  X(OmbrixSimStreamInput)            \
  X(OmbrixSimInjectInput)            \
  X(OmbrixSimWriteCount)             \
  X(OmbrixSimGetWrite)               \
  X(OmbrixSimClearWrites)
// clang-format on

#define OMBRIX_TOOL_POINTER(name) decltype(&::name) name = nullptr;

struct Api {
#define OMBRIX_API_EXPORT(name, argument_bytes) OMBRIX_TOOL_POINTER(name)
#include "ombrix_exports.def.h"
  // Set only when the simulator library was loaded.
  OMBRIX_TOOL_SIM_FUNCTIONS(OMBRIX_TOOL_POINTER)
  // A later addition to the simulator: null when the loaded simulator
  // library predates it, so only the commands that need it fail.
  int32_t(OMBRIX_CALL* OmbrixSimSetLoopback)(int32_t device, int32_t enabled) = nullptr;
  bool simulated = false;
};

#undef OMBRIX_TOOL_POINTER

// Loads the simulator library (simulated) or the real one, looking next to
// the executable, in the build tree and in the install's library directory
// before the system's search path. On failure returns false and puts a
// sentence for the user in error. The library stays loaded for the life of
// the process: its threads may still be ending when main() returns.
bool LoadApi(bool simulated, Api* api, std::string* error);

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_API_H
