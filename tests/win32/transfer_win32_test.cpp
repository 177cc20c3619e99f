// The overlapped transfer operations of the Win32 HID half, driven over a
// message-mode pipe whose other end the test plays as the interface. They
// check what the engine builds on: how a start is classified, that the
// event tells completion, that a cancelled transfer has provably let go of
// its memory once collected, and that cancelling is per thread.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pipe_pair.h"
#include "platform/platform.h"

namespace ombrix_test {
namespace {

using namespace ombrix::platform;

constexpr uint32_t kReport = 34;

std::vector<uint8_t> Pattern(uint8_t seed) {
  std::vector<uint8_t> bytes(kReport);
  for (uint32_t i = 0; i < kReport; ++i) bytes[i] = static_cast<uint8_t>(seed + i);
  return bytes;
}

class Win32Transfer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pipe_.ok());
    event_ = EventCreate();
    ASSERT_NE(event_, nullptr);
    EventReset(event_);
    OverlappedPrepare(&overlapped_, event_);
  }
  void TearDown() override { EventClose(event_); }

  PipePair pipe_;
  Event event_ = nullptr;
  Overlapped overlapped_;
};

TEST_F(Win32Transfer, WriteDeliversOneReportAndCountsItsBytes) {
  std::vector<uint8_t> report = Pattern(0x40);
  IoStart start = DeviceWrite(pipe_.device(), report.data(), kReport, &overlapped_);
  ASSERT_NE(start, IoStart::kFailed);
  EXPECT_EQ(pipe_.PeerRead(), report);
  ASSERT_EQ(EventWait(event_, kInfinite), WaitResult::kSignalled);
  uint32_t transferred = 0;
  EXPECT_TRUE(OverlappedResult(pipe_.device(), &overlapped_, &transferred, false));
  EXPECT_EQ(transferred, kReport);
}

TEST_F(Win32Transfer, ReadStaysPendingUntilTheDeviceSendsThenSignalsItsEvent) {
  uint8_t buffer[kReport] = {};
  ASSERT_EQ(DeviceRead(pipe_.device(), buffer, kReport, &overlapped_), IoStart::kPending);
  EXPECT_EQ(EventWait(event_, 0), WaitResult::kTimeout);
  uint32_t transferred = 99;
  EXPECT_FALSE(OverlappedResult(pipe_.device(), &overlapped_, &transferred, false)) << "still in progress";

  std::vector<uint8_t> report = Pattern(0x10);
  ASSERT_TRUE(pipe_.PeerWrite(report));
  ASSERT_EQ(EventWait(event_, kInfinite), WaitResult::kSignalled);
  ASSERT_TRUE(OverlappedResult(pipe_.device(), &overlapped_, &transferred, false));
  EXPECT_EQ(transferred, kReport);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + kReport), report);
}

TEST_F(Win32Transfer, ReadCompletesAtOnceWhenAReportIsWaiting) {
  std::vector<uint8_t> report = Pattern(0x70);
  ASSERT_TRUE(pipe_.PeerWrite(report));
  uint8_t buffer[kReport] = {};
  IoStart start = DeviceRead(pipe_.device(), buffer, kReport, &overlapped_);
  ASSERT_NE(start, IoStart::kFailed);
  // Completed or pending, the event is what tells the end.
  ASSERT_EQ(EventWait(event_, kInfinite), WaitResult::kSignalled);
  uint32_t transferred = 0;
  ASSERT_TRUE(OverlappedResult(pipe_.device(), &overlapped_, &transferred, false));
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + transferred), report);
}

TEST_F(Win32Transfer, CancelledReadIsCollectedAndNeverWritesItsOldBufferAgain) {
  std::vector<uint8_t> old(kReport, 0xEE);
  ASSERT_EQ(DeviceRead(pipe_.device(), old.data(), kReport, &overlapped_), IoStart::kPending);
  DeviceCancelIo(pipe_.device());
  uint32_t transferred = 0;
  EXPECT_FALSE(OverlappedResult(pipe_.device(), &overlapped_, &transferred, true)) << "ended by cancellation";

  // The next report goes to the next read, not into the cancelled buffer.
  std::vector<uint8_t> report = Pattern(0x20);
  ASSERT_TRUE(pipe_.PeerWrite(report));
  uint8_t fresh[kReport] = {};
  EventReset(event_);
  OverlappedPrepare(&overlapped_, event_);
  ASSERT_NE(DeviceRead(pipe_.device(), fresh, kReport, &overlapped_), IoStart::kFailed);
  ASSERT_EQ(EventWait(event_, kInfinite), WaitResult::kSignalled);
  ASSERT_TRUE(OverlappedResult(pipe_.device(), &overlapped_, &transferred, false));
  EXPECT_EQ(std::vector<uint8_t>(fresh, fresh + kReport), report);
  EXPECT_EQ(old, std::vector<uint8_t>(kReport, 0xEE));
}

void CancelOnDevice(void* device) { DeviceCancelIo(static_cast<Device>(device)); }

// A blocking write that times out on an application thread cancels with
// DeviceCancelIo; the read that the I/O thread keeps outstanding on the same
// handle must survive that.
TEST_F(Win32Transfer, CancelFromAnotherThreadLeavesThisThreadsReadRunning) {
  uint8_t buffer[kReport] = {};
  ASSERT_EQ(DeviceRead(pipe_.device(), buffer, kReport, &overlapped_), IoStart::kPending);
  Thread other = ThreadStart(CancelOnDevice, pipe_.device(), nullptr);
  ASSERT_NE(other, nullptr);
  ThreadJoin(other);
  EXPECT_EQ(EventWait(event_, 0), WaitResult::kTimeout);

  std::vector<uint8_t> report = Pattern(0x30);
  ASSERT_TRUE(pipe_.PeerWrite(report));
  ASSERT_EQ(EventWait(event_, kInfinite), WaitResult::kSignalled);
  uint32_t transferred = 0;
  EXPECT_TRUE(OverlappedResult(pipe_.device(), &overlapped_, &transferred, false));
  EXPECT_EQ(transferred, kReport);
}

TEST_F(Win32Transfer, TransfersOnAGoneDeviceFail) {
  uint8_t buffer[kReport] = {};
  ASSERT_EQ(DeviceRead(pipe_.device(), buffer, kReport, &overlapped_), IoStart::kPending);
  pipe_.ClosePeer();  // the interface is unplugged under an outstanding read
  uint32_t transferred = 0;
  EXPECT_FALSE(OverlappedResult(pipe_.device(), &overlapped_, &transferred, true));

  EventReset(event_);
  OverlappedPrepare(&overlapped_, event_);
  std::vector<uint8_t> report = Pattern(0x50);
  IoStart start = DeviceWrite(pipe_.device(), report.data(), kReport, &overlapped_);
  if (start != IoStart::kFailed) {
    EXPECT_FALSE(OverlappedResult(pipe_.device(), &overlapped_, &transferred, true));
  }
}

TEST(Win32Overlapped, PrepareClearsTheRecordAndBindsItsEvent) {
  Event event = EventCreate();
  Overlapped overlapped;
  std::memset(overlapped.native, 0xAB, sizeof overlapped.native);
  overlapped.status.store(5);
  OverlappedPrepare(&overlapped, event);
  EXPECT_EQ(overlapped.event, event);
  EXPECT_EQ(overlapped.status.load(), 0u);
  auto* native = reinterpret_cast<OVERLAPPED*>(overlapped.native);
  EXPECT_EQ(native->hEvent, reinterpret_cast<HANDLE>(event));
  EXPECT_EQ(native->Internal, 0u);
  EXPECT_EQ(native->Offset, 0u);
  EventClose(event);
}

}  // namespace
}  // namespace ombrix_test
