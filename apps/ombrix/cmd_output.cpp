// ombrix send, ombrix mode, ombrix config: the commands that drive one
// interface's output and configuration.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "client/link_guard.h"

namespace ombrix_tool {
namespace {

// Reports left with the library go out on the I/O thread's next passes, one
// per completed write; closing at once would cancel them. A few USB frames
// are plenty.
constexpr uint32_t kSettleMillis = 50;

bool ParseNumber(const std::string& text, int low, int high, int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long number = strtol(text.c_str(), &end, 0);
  if (*end != '\0' || number < low || number > high) return false;
  *value = static_cast<int>(number);
  return true;
}

struct Assignment {
  int channel;
  int value;
};

bool ParseAssignment(const std::string& text, Assignment* assignment, std::string* error) {
  size_t equals = text.find('=');
  if (equals == std::string::npos || !ParseNumber(text.substr(0, equals), 1, 512, &assignment->channel) ||
      !ParseNumber(text.substr(equals + 1), 0, 255, &assignment->value)) {
    *error = "\"" + text + "\" is not CHANNEL=VALUE with a channel of 1 to 512 and a value of 0 to 255.";
    return false;
  }
  return true;
}

bool ParseRange(const std::string& text, int* first, int* last, std::string* error) {
  size_t dots = text.find("..");
  if (dots == std::string::npos || !ParseNumber(text.substr(0, dots), 1, 512, first) ||
      !ParseNumber(text.substr(dots + 2), 1, 512, last) || *first > *last) {
    *error = "\"" + text + "\" is not a channel range FIRST..LAST within 1 to 512.";
    return false;
  }
  return true;
}

// In the simulator the device id is the interface's number in its serial.
int32_t SimDevice(const Serial& serial) {
  return static_cast<int32_t>(strtol(SerialText(serial).c_str() + 3, nullptr, 10));
}

// The value the simulated wire carried last for channel, or -1 when its
// block has not been written yet.
int WireValue(const Api& api, int32_t device, int channel) {
  int block = (channel - 1) / 32;
  uint8_t report[64];
  for (uint32_t i = api.OmbrixSimWriteCount(device); i-- > 0;) {
    int32_t length = api.OmbrixSimGetWrite(device, i, report, sizeof(report), nullptr);
    if (length == 34 && report[1] == block) return report[2 + (channel - 1) % 32];
  }
  return -1;
}

// What the simulated wire carried last for each assigned channel: proof that
// the values reached the interface, not only the buffer. On a loaded
// machine (or under Wine, whose sleeps are coarser) the last blocks may
// still be on their way when the hold ends, so they get up to two seconds.
void PrintSimulatedWire(const Api& api, const Serial& serial, const std::vector<Assignment>& assignments) {
  int32_t device = SimDevice(serial);
  auto allSent = [&] {
    for (const Assignment& assignment : assignments) {
      if (WireValue(api, device, assignment.channel) < 0) return false;
    }
    return true;
  };
  for (int waited = 0; waited < 2000 && !allSent(); waited += 10) {
    if (!SleepUnlessStopped(10)) break;
  }
  for (const Assignment& assignment : assignments) {
    int value = WireValue(api, device, assignment.channel);
    if (value < 0) {
      printf("simulated wire: channel %d not sent\n", assignment.channel);
    } else {
      printf("simulated wire: channel %d = %d\n", assignment.channel, value);
    }
  }
}

// Moves the channels of the range up and down together, one step per
// 20 ms, until the hold ends.
void Fade(Universe& universe, int first, int last, double seconds) {
  uint64_t end = seconds < 0 ? UINT64_MAX : NowMicros() + static_cast<uint64_t>(seconds * 1e6);
  int level = 0;
  int step = 5;
  while (!StopRequested() && NowMicros() < end) {
    for (int channel = first; channel <= last; ++channel) universe.Store(channel - 1, static_cast<uint8_t>(level));
    if (level + step > 255 || level + step < 0) step = -step;
    level += step;
    SleepUnlessStopped(20);
  }
}

}  // namespace

int RunSend(const Api& api, const SendOptions& options) {
  Serial serial;
  std::string error;
  if (!ParseSerial(options.serial, &serial, &error)) return FailUsage(error);
  std::vector<Assignment> assignments;
  for (const std::string& text : options.assignments) {
    Assignment assignment{};
    if (!ParseAssignment(text, &assignment, &error)) return FailUsage(error);
    assignments.push_back(assignment);
  }
  int first = 0;
  int last = 0;
  if (!options.fade.empty() && !ParseRange(options.fade, &first, &last, &error)) return FailUsage(error);
  if (assignments.empty() && options.fade.empty()) {
    return FailUsage("Nothing to send: give CHANNEL=VALUE pairs or --fade FIRST..LAST.");
  }

  Universe output;
  LinkGuard link(api, serial);
  // The values are in place before the mode starts output, so the first
  // blocks on the wire already carry them.
  for (const Assignment& assignment : assignments)
    output.Store(assignment.channel - 1, static_cast<uint8_t>(assignment.value));
  if (!link.Open(&output, nullptr, &error) || !link.SetMode(options.mode, &error)) return Fail(error);

  if (options.seconds < 0) {
    printf("Sending to %s in mode %d; press Ctrl-C to close the link (the interface returns to mode 0).\n",
           SerialText(serial).c_str(), options.mode);
    fflush(stdout);
  }
  if (!options.fade.empty()) {
    Fade(output, first, last, options.seconds);
  } else {
    SleepUnlessStopped(kSettleMillis);
    Hold(options.seconds);
  }
  if (api.simulated) PrintSimulatedWire(api, serial, assignments);
  return 0;
}

int RunMode(const Api& api, const ModeOptions& options) {
  Serial serial;
  std::string error;
  if (!ParseSerial(options.serial, &serial, &error)) return FailUsage(error);
  LinkGuard link(api, serial);
  if (!link.Open(nullptr, nullptr, &error) || !link.SetMode(options.mode, &error)) return Fail(error);
  printf("Mode %d is active on %s; closing the link sets mode 0 again.\n", options.mode, SerialText(serial).c_str());
  SleepUnlessStopped(kSettleMillis);
  Hold(options.seconds);
  return 0;
}

int RunConfig(const Api& api, const ConfigOptions& options) {
  Serial serial;
  std::string error;
  if (!ParseSerial(options.serial, &serial, &error)) return FailUsage(error);
  if (!options.set.empty()) {
    // Only the low byte of each value travels to the interface; refusing
    // larger values keeps the cache and the interface from disagreeing.
    for (int value : options.set) {
      if (value < 0 || value > 255) {
        return FailUsage("The configuration value " + std::to_string(value) + " is out of range; each is 0 to 255.");
      }
    }
  }
  LinkGuard link(api, serial);
  if (!link.Open(nullptr, nullptr, &error)) return Fail(error);
  const uint8_t* key = link.key();
  if (!options.set.empty()) {
    const std::vector<int>& v = options.set;
    api.SetInterfaceAdvTxConfig(key, v[0], v[1], v[2], v[3], v[4], 512, 0);
    printf("Configuration sent to %s.\n", SerialText(serial).c_str());
  }
  if (options.store) {
    api.StoreInterfaceAdvTxConfig(key);
    printf("Store requested on %s.\n", SerialText(serial).c_str());
  }
  SleepUnlessStopped(kSettleMillis);
  Hold(options.seconds);

  uint8_t byteValue = 0;
  uint16_t param[4] = {};
  uint16_t length = 0;
  uint16_t finalByte = 0;
  if (api.GetInterfaceConfig(key, &byteValue, &param[0], &param[1], &param[2], &param[3], &length, &finalByte) != 1) {
    return Fail("The link to " + SerialText(serial) + " is no longer open.");
  }
  printf("byte value %u, parameters %u %u %u %u, length %u, final byte %u\n", byteValue, param[0], param[1], param[2],
         param[3], length, finalByte);
  if (options.set.empty() && length == 0) {
    printf("(nothing cached: the interface has not reported its configuration since the link opened)\n");
  }
  return 0;
}

}  // namespace ombrix_tool
