// The console control handler that InstallStopHandler registers on
// Windows, declared for the tests, which call it as the system would.
#ifndef OMBRIX_TOOL_CONSOLE_WIN32_H
#define OMBRIX_TOOL_CONSOLE_WIN32_H

#include <windows.h>

namespace ombrix_tool {

// Called on a thread of the system's for Ctrl-C, Ctrl-Break, closing the
// console, logging off and shutting down: requests the stop, calls the
// relay's action, and for the last three returns only after a grace time,
// since the system ends the process as soon as it returns.
BOOL WINAPI OnConsoleControl(DWORD event);

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_CONSOLE_WIN32_H
