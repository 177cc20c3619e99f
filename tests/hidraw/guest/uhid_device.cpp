#include "uhid_device.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace guest {
namespace {

// Vendor-defined collection with one 33-byte input and one 33-byte output
// report and no report IDs, the layout of the family's interfaces.
const uint8_t kDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor defined)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x21,        //   Report Count (33)
    0x09, 0x02,        //   Usage (2)
    0x81, 0x02,        //   Input (data, variable, absolute)
    0x09, 0x03,        //   Usage (3)
    0x91, 0x02,        //   Output (data, variable, absolute)
    0xC0,              // End Collection
};

bool WriteEvent(int fd, const uhid_event& event) {
  return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

int64_t NowNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

}  // namespace

UhidDevice::UhidDevice(uint16_t vendor, uint16_t product, const std::string& uniq) {
  fd_ = open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) return;
  uhid_event event{};
  event.type = UHID_CREATE2;
  std::snprintf(reinterpret_cast<char*>(event.u.create2.name), sizeof event.u.create2.name, "test interface %04x:%04x",
                vendor, product);
  std::strncpy(reinterpret_cast<char*>(event.u.create2.uniq), uniq.c_str(), sizeof event.u.create2.uniq - 1);
  event.u.create2.rd_size = sizeof kDescriptor;
  event.u.create2.bus = 0x03;  // BUS_USB
  event.u.create2.vendor = vendor;
  event.u.create2.product = product;
  event.u.create2.version = kVersion;
  std::memcpy(event.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
  if (!WriteEvent(fd_, event)) {
    close(fd_);
    fd_ = -1;
    return;
  }
  service_ = std::thread(&UhidDevice::ServiceMain, this);
}

UhidDevice::~UhidDevice() {
  Unplug();
  stopping_ = true;
  if (service_.joinable()) service_.join();
  if (fd_ >= 0) close(fd_);
}

void UhidDevice::ServiceMain() {
  while (!stopping_) {
    if (NowNanos() < stallUntilNanos_.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, 5) <= 0) continue;
    uhid_event event{};
    if (read(fd_, &event, sizeof event) <= 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (event.type == UHID_START) {
      started_ = true;
    } else if (event.type == UHID_OUTPUT) {
      const uint8_t* data = event.u.output.data;
      reports_.push_back(Received{std::vector<uint8_t>(data, data + event.u.output.size), Clock::now()});
    }
    changed_.notify_all();
  }
}

bool UhidDevice::WaitStarted(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return started_; });
}

bool UhidDevice::SendInput(const std::vector<uint8_t>& payload) {
  uhid_event event{};
  event.type = UHID_INPUT2;
  event.u.input2.size = static_cast<uint16_t>(payload.size());
  std::memcpy(event.u.input2.data, payload.data(), payload.size());
  return WriteEvent(fd_, event);
}

void UhidDevice::Unplug() {
  if (fd_ < 0) return;
  uhid_event event{};
  event.type = UHID_DESTROY;
  WriteEvent(fd_, event);
}

void UhidDevice::Stall(std::chrono::milliseconds duration) {
  stallUntilNanos_ = NowNanos() + std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
}

std::vector<Received> UhidDevice::WaitForReports(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, limit, [&] { return reports_.size() >= count; });
  return reports_;
}

std::vector<Received> UhidDevice::Reports() {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

void UhidDevice::ClearReports() {
  std::lock_guard<std::mutex> lock(mutex_);
  reports_.clear();
}

}  // namespace guest
