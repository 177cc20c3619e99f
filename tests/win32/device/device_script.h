// The Windows test program's end of the device script: asks the Linux
// device server in the guest (through files under Z:\tmp, see
// device_script_protocol.h) what a device received, and makes it send
// input or unplug.
#ifndef OMBRIX_TESTS_WIN32_DEVICE_DEVICE_SCRIPT_H
#define OMBRIX_TESTS_WIN32_DEVICE_DEVICE_SCRIPT_H

#include <cstdint>
#include <string>
#include <vector>

namespace device_test {

using Bytes = std::vector<uint8_t>;

struct ScriptedDevice {
  std::string name;  // also its serial string
  uint16_t vendor = 0;
  uint16_t product = 0;
};

class DeviceScript {
 public:
  // The devices present now, as the server lists them.
  std::vector<ScriptedDevice> List();
  // Output reports (report ID byte included) received since the last Clear.
  std::vector<Bytes> Reports(const std::string& device);
  // As Reports, once count have arrived or limitMs has passed.
  std::vector<Bytes> WaitForReports(const std::string& device, size_t count, unsigned limitMs = 10000);
  void Clear(const std::string& device);
  // Sends one input report: payload is the 33 bytes after the report ID.
  void Input(const std::string& device, const Bytes& payload);
  void Unplug(const std::string& device);

  // Empty while every exchange succeeded; else what went wrong first.
  const std::string& error() const { return error_; }

 private:
  // One exchange: the result lines after "OK", or nothing (and error_ set).
  std::vector<std::string> Exchange(const std::string& command, unsigned replyLimitMs);

  unsigned exchanges_ = 0;
  std::string error_;
};

// The process's one client.
DeviceScript& Script();

}  // namespace device_test

#endif  // OMBRIX_TESTS_WIN32_DEVICE_DEVICE_SCRIPT_H
