#include "platform/hidraw/hidraw_transfers.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/hidraw/hidraw_codec.h"

namespace ombrix::hidraw {

using platform::IoStart;

namespace {

// Errors after which the node is dead for good (unplugged).
bool IsGoneError(int error) { return error == ENODEV || error == EIO || error == ESHUTDOWN || error == EPIPE; }

// A zero-time-out look at the node: hidraw reports POLLERR|POLLHUP once the
// device has gone. Does not block.
bool NodeHungUp(int fd) {
  pollfd entry{fd, POLLIN, 0};
  if (poll(&entry, 1, 0) < 0) return false;
  return (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

}  // namespace

Transfers::Transfers(int fd, bool numberedReports) : fd_(fd), numberedReports_(numberedReports) {
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Transfers::~Transfers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  writeQueued_.notify_all();
  WakeReader();
  if (writer_.joinable()) writer_.join();
  if (reader_.joinable()) reader_.join();
  if (wakeFd_ >= 0) close(wakeFd_);
}

// Publishes the outcome with release ordering, then signals. Both happen
// under mutex_, which is what Fence() relies on. Caller holds mutex_.
void Transfers::Complete(Request* request, bool succeeded, uint32_t transferred) {
  platform::Overlapped* overlapped = request->overlapped;
  *request = Request{};
  overlapped->transferred.store(succeeded ? transferred : 0, std::memory_order_relaxed);
  overlapped->status.store(succeeded ? kSucceeded : kFailed, std::memory_order_release);
  platform::EventSet(overlapped->event);
}

bool Transfers::StartThreadsLocked() {
  if (wakeFd_ < 0) return false;
  try {
    if (!writer_.joinable()) writer_ = std::thread(&Transfers::WriterMain, this);
    if (!reader_.joinable()) reader_ = std::thread(&Transfers::ReaderMain, this);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void Transfers::WakeReader() {
  if (wakeFd_ < 0) return;
  uint64_t one = 1;
  ssize_t ignored = write(wakeFd_, &one, sizeof one);
  (void)ignored;
}

void Transfers::Fence() { std::lock_guard<std::mutex> lock(mutex_); }

IoStart Transfers::Write(const uint8_t* data, uint32_t length, platform::Overlapped* overlapped) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (length > kMaxReportBytes || queuedWrite_.overlapped != nullptr) return IoStart::kFailed;
  if (gone_ || NodeHungUp(fd_)) {
    gone_ = true;
    return IoStart::kFailed;
  }
  if (!StartThreadsLocked()) return IoStart::kFailed;
  // Copied now: the caller's buffer is never handed to the kernel.
  std::memcpy(queuedData_, data, length);
  queuedLength_ = length;
  overlapped->status.store(kPending, std::memory_order_relaxed);
  queuedWrite_ = Request{overlapped, platform::ThreadCurrentId(), nullptr, length};
  writeQueued_.notify_one();
  return IoStart::kPending;
}

void Transfers::WriterMain() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    writeQueued_.wait(lock, [this] { return stopping_ || queuedWrite_.overlapped != nullptr; });
    if (stopping_) return;
    // Writes run one after the other: a write queued behind a cancelled one
    // that the kernel is still carrying out waits here for its turn.
    writeInFlight_ = queuedWrite_;
    queuedWrite_ = Request{};
    uint32_t length = queuedLength_;
    std::memcpy(writeData_, queuedData_, length);
    lock.unlock();

    ssize_t written;
    do {
      written = write(fd_, writeData_, length);
    } while (written < 0 && errno == EINTR);
    int error = written < 0 ? errno : 0;

    lock.lock();
    if (written < 0 && IsGoneError(error)) gone_ = true;
    // Null when the transfer was cancelled meanwhile: its outcome is dropped.
    if (writeInFlight_.overlapped != nullptr) {
      Complete(&writeInFlight_, written >= 0, written >= 0 ? static_cast<uint32_t>(written) : 0);
    }
  }
}

Transfers::ReadOutcome Transfers::TryReadLocked(bool hangUp, uint32_t* delivered) {
  // Looked at first, so that read() cannot block even on a descriptor
  // opened without O_NONBLOCK.
  pollfd entry{fd_, POLLIN, 0};
  if (poll(&entry, 1, 0) < 0) return ReadOutcome::kNothing;
  if ((entry.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) == 0) return ReadOutcome::kNothing;
  hangUp = hangUp || (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
  ssize_t count;
  do {
    count = read(fd_, readScratch_, sizeof readScratch_);
  } while (count < 0 && errno == EINTR);
  if (count < 0 && errno == EAGAIN) return hangUp ? ReadOutcome::kGone : ReadOutcome::kNothing;
  if (count < 0 || (count == 0 && hangUp)) return ReadOutcome::kGone;
  *delivered = RestoreReportId(readScratch_, static_cast<size_t>(count), numberedReports_, read_.buffer, read_.length);
  return ReadOutcome::kReport;
}

IoStart Transfers::Read(uint8_t* buffer, uint32_t length, platform::Overlapped* overlapped) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (gone_ || read_.overlapped != nullptr) return IoStart::kFailed;
  read_ = Request{overlapped, platform::ThreadCurrentId(), buffer, length};
  // A report the driver has already queued completes the read at once.
  uint32_t delivered = 0;
  switch (TryReadLocked(false, &delivered)) {
    case ReadOutcome::kReport:
      Complete(&read_, true, delivered);
      return IoStart::kCompleted;
    case ReadOutcome::kGone:
      // A dead node: the read does not start, and the core reports nothing.
      gone_ = true;
      read_ = Request{};
      return IoStart::kFailed;
    case ReadOutcome::kNothing:
      break;
  }
  if (!StartThreadsLocked()) {
    read_ = Request{};
    return IoStart::kFailed;
  }
  overlapped->status.store(kPending, std::memory_order_relaxed);
  WakeReader();
  return IoStart::kPending;
}

void Transfers::ReaderMain() {
  for (;;) {
    bool wanted;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      wanted = read_.overlapped != nullptr;
    }
    pollfd entries[2] = {{wakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
    int ready = poll(entries, wanted ? 2 : 1, -1);
    if (ready < 0) continue;  // EINTR
    if (entries[0].revents & POLLIN) {
      uint64_t drained;
      ssize_t ignored = read(wakeFd_, &drained, sizeof drained);
      (void)ignored;
    }
    if (!wanted || entries[1].revents == 0) continue;
    bool hangUp = (entries[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (read_.overlapped == nullptr) continue;  // cancelled meanwhile
    uint32_t delivered = 0;
    switch (TryReadLocked(hangUp, &delivered)) {
      case ReadOutcome::kReport:
        Complete(&read_, true, delivered);
        break;
      case ReadOutcome::kGone:
        gone_ = true;
        Complete(&read_, false, 0);
        break;
      case ReadOutcome::kNothing:
        break;
    }
  }
}

void Transfers::Cancel(platform::ThreadId starter) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (queuedWrite_.overlapped != nullptr && queuedWrite_.starter == starter) Complete(&queuedWrite_, false, 0);
  // The kernel may still be writing writeData_, but no longer the caller's
  // memory: detaching is enough.
  if (writeInFlight_.overlapped != nullptr && writeInFlight_.starter == starter) {
    Complete(&writeInFlight_, false, 0);
  }
  if (read_.overlapped != nullptr && read_.starter == starter) {
    Complete(&read_, false, 0);
    WakeReader();  // stop polling for a read nobody waits for
  }
}

}  // namespace ombrix::hidraw
