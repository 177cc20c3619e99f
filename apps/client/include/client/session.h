// What every command shares: the options that choose real or simulated
// interfaces, serials as the user types them, the stop request of Ctrl-C
// and the clock.
#ifndef OMBRIX_TOOL_SESSION_H
#define OMBRIX_TOOL_SESSION_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "client/api.h"

namespace ombrix_tool {

using Serial = std::array<uint8_t, 16>;

// Exit codes: 1 for a failure at run time (nothing attached, unknown
// serial, library missing), 2 for an argument the tool cannot use.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct GlobalOptions {
  bool simulated = false;
  int simDevices = 2;
};

// The simulated interfaces: serials SIM0000000000001 and up, types mixed in
// turn, each taking one report per USB frame like the hardware (framed
// writes: each completes at the next 1 ms frame boundary).
void AddSimulatedInterfaces(const Api& api, int count);
Serial SimulatedSerial(int number);
// The simulated interface sends one heartbeat report.
void SimulateHeartbeat(const Api& api, int32_t device);

// A serial typed by the user: exactly 16 characters. On failure error gets
// a sentence for the user.
bool ParseSerial(const std::string& text, Serial* serial, std::string* error);
// The serial as text, with bytes that cannot be printed shown as '?'.
std::string SerialText(const Serial& serial);

std::vector<Serial> ConnectedSerials(const Api& api);
// True when an interface with this serial is attached; otherwise error says
// what is attached instead.
bool CheckAttached(const Api& api, const Serial& serial, std::string* error);

// Ctrl-C (SIGINT) and SIGTERM, and on Windows Ctrl-Break and closing the
// console, only set a flag, so that every command can close its links on
// the way out (console_posix.cpp, console_win32.cpp).
void InstallStopHandler();
bool StopRequested();
// Sleeps up to milliseconds; returns early (false) when a stop is requested.
bool SleepUnlessStopped(uint32_t milliseconds);

// Microseconds on the steady clock, the clock of the simulator's write log.
uint64_t NowMicros();
// A count per second over the time actually measured: a window read late
// (a busy machine, a slow redraw) holds more than a second's worth, and
// taking it as one second would show rates the wire cannot carry.
double PerSecond(uint64_t count, uint64_t elapsedMicros);

// Whether standard output is a terminal that understands cursor control.
bool OutputIsTerminal();

}  // namespace ombrix_tool

#endif  // OMBRIX_TOOL_SESSION_H
