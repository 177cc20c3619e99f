// What the tool does with its console that each operating system does its
// own way: how a stop request arrives (signals on POSIX, the console's
// control events on Windows) and what the terminal can do. console_posix.cpp
// and console_win32.cpp implement it; the stop request itself is declared
// in session.h (InstallStopHandler, StopRequested, OutputIsTerminal).
#ifndef OMBRIX_TOOL_CONSOLE_H
#define OMBRIX_TOOL_CONSOLE_H

#include <functional>

namespace ombrix_tool {

// While it lives, a stop request also calls action, on the thread that
// delivers the request, for a command whose main thread waits in an event
// loop rather than polling StopRequested(). Windows delivers Ctrl-C,
// Ctrl-Break and the closing of the console on a thread of its own, which
// may call action directly. On POSIX the request arrives in a signal
// handler, which must not: there the event loop listens for SIGINT and
// SIGTERM itself (the bridge's asio::signal_set) and action is not called.
// action must be safe to call from any thread.
class StopRelay {
 public:
  explicit StopRelay(std::function<void()> action);
  ~StopRelay();
  StopRelay(const StopRelay&) = delete;
  StopRelay& operator=(const StopRelay&) = delete;
};

// Prepares the terminal for cursor control and colour sequences (on Windows
// the console's virtual-terminal processing) and restores it afterwards.
// Returns false when the terminal cannot take them.
bool EnterTerminalSequences();
void LeaveTerminalSequences();

// The terminal's columns and rows; false when it cannot say.
bool TerminalSize(int* width, int* height);

// Starts and stops watching for resizes; TakeTerminalResized() then says,
// once per resize, that the size changed since it last answered.
void WatchTerminalResize(bool watch);
bool TakeTerminalResized();

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_CONSOLE_H
