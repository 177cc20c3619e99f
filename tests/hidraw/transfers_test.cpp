// The transfer machinery of the hidraw backend over a SOCK_SEQPACKET socket
// pair: like a hidraw node it keeps report boundaries, reports hang-up
// through poll(), and a full socket blocks write() the way a device that
// does not take its interrupt transfer blocks a hidraw write().
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/hidraw/hidraw_device.h"
#include "platform/platform.h"

namespace platform = ombrix::platform;
using platform::IoStart;

namespace {

constexpr uint32_t kReportBytes = 34;

class HidrawTransfers : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    peer_ = fds[1];
    device_ = ombrix::hidraw::AdoptDescriptor(fds[0], numbered_);
    ASSERT_NE(device_, nullptr);
    deviceFd_ = fds[0];
    event_ = platform::EventCreate();
    platform::EventReset(event_);
  }
  void TearDown() override {
    if (peer_ >= 0) close(peer_);
    platform::DeviceClose(device_);
    platform::EventClose(event_);
  }

  // What the "device" sends: one report as hidraw would deliver it.
  void DeviceSends(const std::vector<uint8_t>& report) {
    ASSERT_EQ(send(peer_, report.data(), report.size(), 0), static_cast<ssize_t>(report.size()));
  }
  std::vector<uint8_t> DeviceReceives() {
    std::vector<uint8_t> report(512);
    ssize_t count = recv(peer_, report.data(), report.size(), 0);
    report.resize(count < 0 ? 0 : static_cast<size_t>(count));
    return report;
  }
  // Fills the socket so that the next write() blocks; returns how many
  // filler messages the peer will read before anything else.
  int FillUntilWritesBlock() {
    int size = 4096;
    setsockopt(deviceFd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    uint8_t filler[kReportBytes] = {0xFF};
    int count = 0;
    while (send(deviceFd_, filler, sizeof filler, MSG_DONTWAIT) == static_cast<ssize_t>(sizeof filler)) ++count;
    return count;
  }
  // Waits for the transfer's end and returns its outcome.
  bool Collect(platform::Overlapped* overlapped, uint32_t* transferred) {
    EXPECT_EQ(platform::EventWait(event_, platform::kInfinite), platform::WaitResult::kSignalled);
    return platform::OverlappedResult(device_, overlapped, transferred, false);
  }

  bool numbered_ = false;
  int peer_ = -1;
  int deviceFd_ = -1;
  platform::Device device_ = nullptr;
  platform::Event event_ = nullptr;
};

std::vector<uint8_t> Payload(uint8_t kind) {
  std::vector<uint8_t> payload(33);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(kind + i);
  payload[0] = kind;
  return payload;
}

TEST_F(HidrawTransfers, ReadsGetTheirReportIdBack) {
  platform::Overlapped overlapped;
  platform::OverlappedPrepare(&overlapped, event_);
  uint8_t buffer[kReportBytes] = {};
  // Nothing there yet: the read stays outstanding until the device sends.
  ASSERT_EQ(platform::DeviceRead(device_, buffer, kReportBytes, &overlapped), IoStart::kPending);
  uint32_t transferred = 0;
  EXPECT_FALSE(platform::OverlappedResult(device_, &overlapped, &transferred, false)) << "still in progress";
  DeviceSends(Payload(0x03));
  ASSERT_TRUE(Collect(&overlapped, &transferred));
  ASSERT_EQ(transferred, kReportBytes);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(std::vector<uint8_t>(buffer + 1, buffer + kReportBytes), Payload(0x03));

  // A report already waiting completes the next read at once.
  DeviceSends(Payload(0x55));
  platform::EventReset(event_);
  platform::OverlappedPrepare(&overlapped, event_);
  ASSERT_EQ(platform::DeviceRead(device_, buffer, kReportBytes, &overlapped), IoStart::kCompleted);
  ASSERT_TRUE(Collect(&overlapped, &transferred));
  EXPECT_EQ(transferred, kReportBytes);
  EXPECT_EQ(buffer[1], 0x55);
}

TEST_F(HidrawTransfers, OversizedReportIsDeliveredAsEmpty) {
  platform::Overlapped overlapped;
  platform::OverlappedPrepare(&overlapped, event_);
  uint8_t buffer[kReportBytes + 8];
  std::memset(buffer, 0xEE, sizeof buffer);
  DeviceSends(std::vector<uint8_t>(kReportBytes, 0x11));  // 35 bytes with its ID
  ASSERT_EQ(platform::DeviceRead(device_, buffer, kReportBytes, &overlapped), IoStart::kCompleted);
  uint32_t transferred = 99;
  ASSERT_TRUE(Collect(&overlapped, &transferred));
  EXPECT_EQ(transferred, 0u);
  EXPECT_EQ(buffer[kReportBytes], 0xEE) << "nothing written past the buffer";
}

TEST_F(HidrawTransfers, WritesGoOutWithTheirLeadingZero) {
  std::vector<uint8_t> report(kReportBytes, 0);
  std::vector<uint8_t> payload = Payload(0x10);
  std::copy(payload.begin(), payload.end(), report.begin() + 1);
  platform::Overlapped overlapped;
  platform::OverlappedPrepare(&overlapped, event_);
  ASSERT_EQ(platform::DeviceWrite(device_, report.data(), kReportBytes, &overlapped), IoStart::kPending);
  EXPECT_EQ(DeviceReceives(), report);
  uint32_t transferred = 0;
  ASSERT_TRUE(Collect(&overlapped, &transferred));
  EXPECT_EQ(transferred, kReportBytes);
}

// A write the device does not take blocks write() in the kernel. The
// caller must get control back at once, be able to cancel, and then free
// the buffer and the record while the kernel is still busy.
TEST_F(HidrawTransfers, BlockedWriteCanBeCancelledAndItsMemoryFreed) {
  int fillers = FillUntilWritesBlock();
  auto report = std::make_unique<uint8_t[]>(kReportBytes);
  std::memset(report.get(), 0x21, kReportBytes);
  auto overlapped = std::make_unique<platform::Overlapped>();
  platform::OverlappedPrepare(overlapped.get(), event_);
  ASSERT_EQ(platform::DeviceWrite(device_, report.get(), kReportBytes, overlapped.get()), IoStart::kPending);
  EXPECT_EQ(platform::EventWait(event_, 50), platform::WaitResult::kTimeout) << "the device has not taken it";

  platform::DeviceCancelIo(device_);
  uint32_t transferred = 0;
  EXPECT_FALSE(platform::OverlappedResult(device_, overlapped.get(), &transferred, true));
  // Freed while write() may still be in the kernel: ASan catches any later
  // access by the backend.
  report.reset();
  overlapped.reset();

  // The next write waits its turn behind the cancelled one and completes.
  std::vector<uint8_t> next(kReportBytes, 0x22);
  platform::Overlapped second;
  platform::EventReset(event_);
  platform::OverlappedPrepare(&second, event_);
  ASSERT_EQ(platform::DeviceWrite(device_, next.data(), kReportBytes, &second), IoStart::kPending);
  for (int i = 0; i < fillers; ++i) DeviceReceives();
  EXPECT_EQ(DeviceReceives(), std::vector<uint8_t>(kReportBytes, 0x21)) << "the kernel still sent it";
  EXPECT_EQ(DeviceReceives(), next);
  ASSERT_TRUE(Collect(&second, &transferred));
  EXPECT_EQ(transferred, kReportBytes);
}

TEST_F(HidrawTransfers, CancelEndsOnlyTheCallingThreadsTransfers) {
  platform::Overlapped overlapped;
  platform::OverlappedPrepare(&overlapped, event_);
  uint8_t buffer[kReportBytes] = {};
  std::thread starter(
      [&] { EXPECT_EQ(platform::DeviceRead(device_, buffer, kReportBytes, &overlapped), IoStart::kPending); });
  starter.join();
  platform::DeviceCancelIo(device_);  // this thread started nothing
  EXPECT_EQ(platform::EventWait(event_, 20), platform::WaitResult::kTimeout);
  DeviceSends(Payload(0x07));
  uint32_t transferred = 0;
  ASSERT_TRUE(Collect(&overlapped, &transferred));
  EXPECT_EQ(buffer[1], 0x07);
}

TEST_F(HidrawTransfers, CancelledReadLeavesTheNextReportForTheNextRead) {
  auto buffer = std::make_unique<uint8_t[]>(kReportBytes);
  platform::Overlapped overlapped;
  platform::OverlappedPrepare(&overlapped, event_);
  ASSERT_EQ(platform::DeviceRead(device_, buffer.get(), kReportBytes, &overlapped), IoStart::kPending);
  platform::DeviceCancelIo(device_);
  uint32_t transferred = 0;
  EXPECT_FALSE(platform::OverlappedResult(device_, &overlapped, &transferred, true));
  buffer.reset();

  DeviceSends(Payload(0x09));
  uint8_t next[kReportBytes] = {};
  platform::EventReset(event_);
  platform::OverlappedPrepare(&overlapped, event_);
  IoStart start = platform::DeviceRead(device_, next, kReportBytes, &overlapped);
  ASSERT_NE(start, IoStart::kFailed);
  ASSERT_TRUE(Collect(&overlapped, &transferred));
  EXPECT_EQ(next[1], 0x09);
}

// Unplugging: the outstanding read ends with failure, and from then on no
// transfer starts (the engine reports one interface change, not one a pass).
TEST_F(HidrawTransfers, HangUpFailsTheOutstandingReadAndStopsNewTransfers) {
  platform::Overlapped overlapped;
  platform::OverlappedPrepare(&overlapped, event_);
  uint8_t buffer[kReportBytes] = {};
  ASSERT_EQ(platform::DeviceRead(device_, buffer, kReportBytes, &overlapped), IoStart::kPending);
  close(peer_);
  peer_ = -1;
  uint32_t transferred = 0;
  EXPECT_FALSE(Collect(&overlapped, &transferred));

  platform::Overlapped again;
  platform::OverlappedPrepare(&again, event_);
  EXPECT_EQ(platform::DeviceRead(device_, buffer, kReportBytes, &again), IoStart::kFailed);
  uint8_t report[kReportBytes] = {};
  EXPECT_EQ(platform::DeviceWrite(device_, report, kReportBytes, &again), IoStart::kFailed);
}

class HidrawNumberedTransfers : public HidrawTransfers {
 protected:
  HidrawNumberedTransfers() { numbered_ = true; }
};

TEST_F(HidrawNumberedTransfers, NumberedReportsPassUnchanged) {
  platform::Overlapped overlapped;
  platform::OverlappedPrepare(&overlapped, event_);
  uint8_t buffer[kReportBytes] = {};
  std::vector<uint8_t> report = Payload(0x02);
  report.insert(report.begin(), 0x05);  // report ID 5
  DeviceSends(report);
  ASSERT_EQ(platform::DeviceRead(device_, buffer, kReportBytes, &overlapped), IoStart::kCompleted);
  uint32_t transferred = 0;
  ASSERT_TRUE(Collect(&overlapped, &transferred));
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + transferred), report);
}

}  // namespace
