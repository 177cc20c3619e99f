// A scripted interface on a real kernel HID stack: a virtual HID device
// created through /dev/uhid, which the kernel's hid-generic driver binds
// and exposes as a hidraw node, exactly as it would a USB interface.
// The device records every output report the library writes, sends input
// reports on request, and can stop answering or be unplugged.
#ifndef OMBRIX_TESTS_HIDRAW_GUEST_UHID_DEVICE_H
#define OMBRIX_TESTS_HIDRAW_GUEST_UHID_DEVICE_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace guest {

using Clock = std::chrono::steady_clock;

// One output report as the device received it (report ID byte included).
struct Received {
  std::vector<uint8_t> report;
  Clock::time_point at;
};

class UhidDevice {
 public:
  // The release number (bcdDevice) every device reports.
  static constexpr uint16_t kVersion = 0x0123;

  // Creates the device (bus USB, 33-byte unnumbered input and output
  // reports). An empty uniq gives a device without a serial string.
  UhidDevice(uint16_t vendor, uint16_t product, const std::string& uniq);
  ~UhidDevice();  // unplugs the device if it is still present
  UhidDevice(const UhidDevice&) = delete;
  UhidDevice& operator=(const UhidDevice&) = delete;

  bool created() const { return fd_ >= 0; }
  // Waits until the kernel has started the device (UHID_START).
  bool WaitStarted(std::chrono::milliseconds limit);

  // Sends one 33-byte input report (UHID_INPUT2).
  bool SendInput(const std::vector<uint8_t>& payload);
  // Unplugs the device (UHID_DESTROY).
  void Unplug();
  // Stops reading /dev/uhid for the given time: the device answers none of
  // the library's output reports meanwhile.
  void Stall(std::chrono::milliseconds duration);

  // Waits until at least count output reports have arrived, then returns
  // all of them.
  std::vector<Received> WaitForReports(size_t count, std::chrono::milliseconds limit);
  std::vector<Received> Reports();
  void ClearReports();

 private:
  void ServiceMain();

  int fd_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<int64_t> stallUntilNanos_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false;           // guarded by mutex_
  std::vector<Received> reports_;  // guarded by mutex_
  std::thread service_;
};

// The 33-byte payload of a report, without the report ID byte.
inline std::vector<uint8_t> PayloadOf(const Received& received) {
  if (received.report.empty()) return {};
  return std::vector<uint8_t>(received.report.begin() + 1, received.report.end());
}

}  // namespace guest

#endif  // OMBRIX_TESTS_HIDRAW_GUEST_UHID_DEVICE_H
