// Windows: the console's control events (Ctrl-C, Ctrl-Break, closing the
// console window, logging off, shutting down) set the stop flag as SIGINT
// and SIGTERM do on POSIX; the console draws escape sequences once its
// virtual-terminal processing is on, and a resize is noticed by polling the
// size, since a console program gets no signal for it.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "client/console.h"
#include "client/console_win32.h"
#include "client/session.h"

namespace ombrix_tool {
namespace {

// Set by the control handler (on the system's thread), read by every thread
// that polls for a stop.
std::atomic<bool> g_stop{false};

// The relay's action: set and cleared by the thread that owns the relay,
// called by the control handler's thread, both under g_relayLock so that it
// is never called after its relay is gone.
std::mutex g_relayLock;
std::function<void()> g_relayAction;

// For closing, logging off and shutting down, the system ends the process
// as soon as the handler returns: it returns only after this long, and the
// process has normally exited before (main() returning ends this thread
// too). The system's own limit, 5 s for closing, still applies.
constexpr DWORD kCloseGraceMillis = 10000;

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD event) {
  g_stop.store(true);
  {
    std::lock_guard<std::mutex> hold(g_relayLock);
    if (g_relayAction) g_relayAction();
  }
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    for (DWORD waited = 0; waited < kCloseGraceMillis; waited += 50) Sleep(50);
  }
  return TRUE;  // handled: the system's default would end the process at once
}

namespace {

// The console mode before EnterTerminalSequences changed it; main thread.
DWORD g_savedMode = 0;
bool g_modeSaved = false;

// The size last reported, to tell a resize; the drawing thread only.
int g_lastWidth = 0;
int g_lastHeight = 0;

HANDLE Output() { return GetStdHandle(STD_OUTPUT_HANDLE); }

}  // namespace

void InstallStopHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool StopRequested() { return g_stop.load(); }

StopRelay::StopRelay(std::function<void()> action) {
  std::lock_guard<std::mutex> hold(g_relayLock);
  g_relayAction = std::move(action);
}

StopRelay::~StopRelay() {
  std::lock_guard<std::mutex> hold(g_relayLock);
  g_relayAction = nullptr;
}

// Output redirected to a file or a pipe has no console mode.
bool OutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(Output(), &mode) != 0;
}

bool EnterTerminalSequences() {
  DWORD mode = 0;
  if (!GetConsoleMode(Output(), &mode)) return false;
  if (!g_modeSaved) {
    g_savedMode = mode;
    g_modeSaved = true;
  }
  // Consoles older than Windows 10 refuse the flag; they would print the
  // sequences as text, so the caller falls back to plain lines.
  return SetConsoleMode(Output(), mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void LeaveTerminalSequences() {
  if (!g_modeSaved) return;
  SetConsoleMode(Output(), g_savedMode);
  g_modeSaved = false;
}

// The visible window, not the screen buffer, which may be far taller.
bool TerminalSize(int* width, int* height) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(Output(), &info)) return false;
  int columns = info.srWindow.Right - info.srWindow.Left + 1;
  int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  if (columns <= 0 || rows <= 0) return false;
  *width = columns;
  *height = rows;
  return true;
}

void WatchTerminalResize(bool watch) {
  g_lastWidth = 0;
  g_lastHeight = 0;
  if (watch) TerminalSize(&g_lastWidth, &g_lastHeight);
}

bool TakeTerminalResized() {
  int width = 0;
  int height = 0;
  if (!TerminalSize(&width, &height) || (width == g_lastWidth && height == g_lastHeight)) return false;
  g_lastWidth = width;
  g_lastHeight = height;
  return true;
}

}  // namespace ombrix_tool
