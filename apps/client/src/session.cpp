#include "client/session.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace ombrix_tool {
namespace {

struct SimKind {
  uint16_t productId;
  uint16_t release;
};

// One of each product in turn; the 0x0754 entry is a release too old for
// heartbeats, so the mixed set shows both kinds.
constexpr SimKind kSimKinds[] = {{0x0830, 0x0106}, {0x0832, 0x0200}, {0x0833, 0x0201}, {0x0754, 0x0105}};

}  // namespace

Serial SimulatedSerial(int number) {
  char text[32];
  snprintf(text, sizeof(text), "SIM%013d", number);
  Serial serial{};
  memcpy(serial.data(), text, serial.size());
  return serial;
}

void AddSimulatedInterfaces(const Api& api, int count) {
  for (int number = 1; number <= count; ++number) {
    Serial serial = SimulatedSerial(number);
    uint16_t units[16];
    for (size_t i = 0; i < serial.size(); ++i) units[i] = serial[i];
    const SimKind& kind = kSimKinds[(number - 1) % 4];
    int32_t device = api.OmbrixSimAddDevice(0x16D0, kind.productId, kind.release, units, 16);
    api.OmbrixSimSetWriteBehaviour(device, OMBRIX_SIM_WRITE_FRAMED, 1000);
  }
}

void SimulateHeartbeat(const Api& api, int32_t device) {
  uint8_t report[34] = {0, 0x55};
  api.OmbrixSimInjectInput(device, report, sizeof(report));
}

bool ParseSerial(const std::string& text, Serial* serial, std::string* error) {
  if (text.size() != serial->size()) {
    *error =
        "The serial \"" + text + "\" is " + std::to_string(text.size()) + " characters long; a serial has exactly 16.";
    return false;
  }
  memcpy(serial->data(), text.data(), serial->size());
  return true;
}

std::string SerialText(const Serial& serial) {
  std::string text;
  for (uint8_t byte : serial) text += (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '?';
  return text;
}

std::vector<Serial> ConnectedSerials(const Api& api) {
  uint8_t list[512];
  api.GetAllConnectedInterfaces(list);
  std::vector<Serial> serials;
  for (int slot = 0; slot < 32; ++slot) {
    // The library marks empty slots with sixteen ASCII zeros.
    if (memcmp(list + 16 * slot, "0000000000000000", 16) == 0) break;
    Serial serial;
    memcpy(serial.data(), list + 16 * slot, 16);
    serials.push_back(serial);
  }
  return serials;
}

bool CheckAttached(const Api& api, const Serial& serial, std::string* error) {
  std::vector<Serial> attached = ConnectedSerials(api);
  if (attached.empty()) {
    *error = "No interface is attached.";
    return false;
  }
  for (const Serial& candidate : attached) {
    if (candidate == serial) return true;
  }
  *error = "No interface with serial " + SerialText(serial) + " is attached (attached:";
  for (const Serial& candidate : attached) *error += " " + SerialText(candidate);
  *error += ").";
  return false;
}

bool SleepUnlessStopped(uint32_t milliseconds) {
  uint64_t end = NowMicros() + uint64_t{milliseconds} * 1000;
  while (!StopRequested()) {
    uint64_t now = NowMicros();
    if (now >= end) return true;
    uint64_t step = end - now < 20000 ? end - now : 20000;
    std::this_thread::sleep_for(std::chrono::microseconds(step));
  }
  return false;
}

// The simulator's clock is std::chrono::steady_clock too (CLOCK_MONOTONIC
// on Linux, the performance counter on Windows).
uint64_t NowMicros() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

double PerSecond(uint64_t count, uint64_t elapsedMicros) {
  return elapsedMicros == 0 ? 0.0 : static_cast<double>(count) * 1e6 / static_cast<double>(elapsedMicros);
}

}  // namespace ombrix_tool
