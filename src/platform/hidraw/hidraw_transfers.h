// Overlapped transfers over one hidraw file descriptor.
//
// hidraw's write() blocks until the interrupt transfer is done (for a USB
// device up to the USB stack's 5 s time-out) and poll() always reports the
// node writable, so a write can never be tried "without blocking". Each
// descriptor that carries transfers therefore gets a writer thread, and a
// reader thread that poll()s for input while a read is outstanding; both
// are started on the first transfer, so the walk's short-lived handles
// never start one.
//
// Memory rule: the kernel only ever sees this object's own buffers. The
// caller's buffer and Overlapped record are touched only under mutex_, by
// the thread that completes the transfer. Cancel detaches a transfer under
// the same lock, so when Cancel returns nothing references the caller's
// memory any more, even while a cancelled write is still inside the kernel.
#ifndef OMBRIX_PLATFORM_HIDRAW_HIDRAW_TRANSFERS_H
#define OMBRIX_PLATFORM_HIDRAW_HIDRAW_TRANSFERS_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace ombrix::hidraw {

// Values of Overlapped::status as this backend uses them.
enum TransferStatus : uint32_t { kIdle = 0, kPending = 1, kSucceeded = 2, kFailed = 3 };

// The largest report handled; hidraw itself refuses more than 4096 bytes.
constexpr uint32_t kMaxReportBytes = 4096;

class Transfers {
 public:
  // fd stays owned by the caller and must outlive this object.
  Transfers(int fd, bool numberedReports);
  // Stops both threads. Blocks until a write still inside the kernel has
  // returned. No transfer may be outstanding.
  ~Transfers();
  Transfers(const Transfers&) = delete;
  Transfers& operator=(const Transfers&) = delete;

  // Any thread; never block on the device. At most one write and one read
  // may be outstanding: a second one fails to start.
  platform::IoStart Write(const uint8_t* data, uint32_t length, platform::Overlapped* overlapped);
  platform::IoStart Read(uint8_t* buffer, uint32_t length, platform::Overlapped* overlapped);
  // Ends, with failure, the outstanding transfers that thread starter began.
  // Any thread; does not wait for the kernel (see the memory rule above).
  void Cancel(platform::ThreadId starter);
  // Returns once a completion published before the call has fully left
  // this object, so that the caller may close the transfer's event.
  void Fence();

 private:
  struct Request {
    platform::Overlapped* overlapped = nullptr;  // null: no request
    platform::ThreadId starter = 0;
    uint8_t* buffer = nullptr;  // reads: the caller's buffer
    uint32_t length = 0;
  };

  void WriterMain();
  void ReaderMain();
  enum class ReadOutcome { kReport, kNothing, kGone };
  // One non-blocking read() into the outstanding read's buffer, with the
  // report ID restored. hangUp: poll() saw the node hang up, so "nothing
  // to read" means the device has gone. Caller holds mutex_.
  ReadOutcome TryReadLocked(bool hangUp, uint32_t* delivered);
  bool StartThreadsLocked();
  void WakeReader();
  static void Complete(Request* request, bool succeeded, uint32_t transferred);

  const int fd_;
  const bool numberedReports_;
  int wakeFd_ = -1;  // eventfd that interrupts the reader's poll()

  std::mutex mutex_;
  std::condition_variable writeQueued_;
  // All below: guarded by mutex_.
  bool stopping_ = false;
  bool gone_ = false;  // the device has been unplugged: nothing new starts
  Request queuedWrite_;
  uint32_t queuedLength_ = 0;
  uint8_t queuedData_[kMaxReportBytes];
  Request writeInFlight_;  // cleared by Cancel while the kernel still writes
  Request read_;
  uint8_t readScratch_[kMaxReportBytes];

  // Owned by the writer thread alone: what the kernel is writing.
  uint8_t writeData_[kMaxReportBytes];

  std::thread writer_;
  std::thread reader_;
};

}  // namespace ombrix::hidraw

#endif  // OMBRIX_PLATFORM_HIDRAW_HIDRAW_TRANSFERS_H
