// POSIX: SIGINT and SIGTERM set the stop flag; the terminal is a tty that
// understands escape sequences, and SIGWINCH tells of a resize.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "client/console.h"
#include "client/session.h"

namespace ombrix_tool {
namespace {

// Set by the signal handler, read by every thread that polls for a stop.
std::atomic<bool> g_stop{false};
extern "C" void OnStopSignal(int) { g_stop.store(true); }

// Set by the SIGWINCH handler, cleared by the drawing thread.
std::atomic<bool> g_resized{false};
struct sigaction g_previousResize {};
extern "C" void OnResizeSignal(int) { g_resized.store(true); }

}  // namespace

void InstallStopHandler() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return g_stop.load(); }

// A signal handler may call nothing but async-signal-safe functions; the
// bridge's event loop takes the signals itself (see console.h).
StopRelay::StopRelay(std::function<void()>) {}
StopRelay::~StopRelay() = default;

bool OutputIsTerminal() {
  if (!isatty(STDOUT_FILENO)) return false;
  const char* term = getenv("TERM");
  return term != nullptr && strcmp(term, "dumb") != 0;
}

bool EnterTerminalSequences() { return true; }
void LeaveTerminalSequences() {}

bool TerminalSize(int* width, int* height) {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return false;
  *width = size.ws_col;
  *height = size.ws_row;
  return true;
}

void WatchTerminalResize(bool watch) {
  if (!watch) {
    sigaction(SIGWINCH, &g_previousResize, nullptr);
    return;
  }
  struct sigaction action {};
  action.sa_handler = OnResizeSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGWINCH, &action, &g_previousResize);
}

bool TakeTerminalResized() { return g_resized.exchange(false); }

}  // namespace ombrix_tool
