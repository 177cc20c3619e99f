// The platform contract: the only way the rest of the library reaches the
// operating system.
//
// It has two halves, each implemented by peer backends that the build picks:
//   OS half  - events, waits, locks, threads, thread message queues, sleeps
//              and timer resolution: os_posix.cpp, win32/os_win32.cpp.
//   HID half - the device walk, device handles, HID queries and overlapped
//              transfers: sim/ (simulated interfaces), win32/ (hid.dll and
//              setupapi), hidraw/ (Linux).
//
// The operations are shaped after the Win32 calls the library was designed
// on, so the Win32 backend is a thin mapping and the others reproduce their
// semantics: manual-reset events, overlapped transfers that complete by
// signalling their event, CancelIo, GetOverlappedResult without waiting.
//
// Each declaration says whether it may block and which threads call it.
// "Any thread" means the operation is safe to call concurrently.
#ifndef OMBRIX_PLATFORM_PLATFORM_H
#define OMBRIX_PLATFORM_PLATFORM_H

#include <atomic>
#include <cstddef>
#include <cstdint>

// Thread-local state of the libraries. Initial-exec TLS lives in the static
// TLS block even when the library is loaded with dlopen: a thread's access
// is then one instruction, and no dynamically allocated TLS exists for
// leak checkers to misread.
#if defined(__GNUC__) && !defined(_WIN32)
#define OMBRIX_THREAD_LOCAL thread_local __attribute__((tls_model("initial-exec")))
#else
#define OMBRIX_THREAD_LOCAL thread_local
#endif

namespace ombrix::platform {

// ===========================================================================
// OS half
// ===========================================================================

// ---- Manual-reset events --------------------------------------------------

struct EventObject;
using Event = EventObject*;

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// The most events one EventWaitAny accepts (the Win32 limit).
constexpr uint32_t kMaxWaitEvents = 64;

// Creates a manual-reset event in the signalled state; null on failure.
// Any thread; does not block.
Event EventCreate();
// Any thread; do not block. A signalled event stays signalled until reset.
void EventSet(Event event);
void EventReset(Event event);
// Releases the event. No thread may wait on it or set it afterwards.
void EventClose(Event event);

enum class WaitResult { kSignalled, kTimeout, kFailed };

// Waits until the event is signalled or timeoutMs passes (0: test only;
// kInfinite: no limit). Blocks. Any thread.
WaitResult EventWait(Event event, uint32_t timeoutMs);
// The same with a microsecond time-out, for the simulator's device clock.
// Backends without finer waits round up to whole milliseconds.
WaitResult EventWaitMicros(Event event, uint64_t timeoutMicros);
// Waits until any of count (1..kMaxWaitEvents) events is signalled. Returns
// the index of a signalled event, -1 on time-out, -2 on failure. Blocks.
int EventWaitAny(const Event* events, uint32_t count, uint32_t timeoutMs);

// ---- Re-entrant lock (a critical section) ----------------------------------

// Re-entrant for the thread that holds it. Enter may block; Leave must be
// called by the thread that entered. Not copyable or movable: its address is
// its identity.
class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void Enter();
  void Leave();

 private:
  // Backend storage (a CRITICAL_SECTION or a pthread mutex), sized for the
  // largest of them so that the record that embeds a lock allocates nothing.
  alignas(16) unsigned char storage_[64];
};

// The lock a transfer holds on its device for as long as it is
// outstanding: entered when a read or write starts, left when it has ended,
// by the same thread, possibly many I/O passes later. Re-entrant like
// RecursiveLock (a critical section on Win32), but kept apart from it:
// with several links the I/O thread holds the transfer locks of many
// devices at once, entered and left in an order that changes from pass to
// pass by design, so they are not part of any lock nesting order. Enter may
// block; Leave must be called by the thread that entered.
class TransferLock {
 public:
  TransferLock();
  ~TransferLock();
  TransferLock(const TransferLock&) = delete;
  TransferLock& operator=(const TransferLock&) = delete;

  void Enter();
  void Leave();

 private:
  alignas(16) unsigned char storage_[128];
};

// Holds a RecursiveLock or a TransferLock for a scope.
template <typename Lock>
class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

// ---- Threads ----------------------------------------------------------------

using ThreadId = uint32_t;  // never 0 for a running thread
struct ThreadObject;
using Thread = ThreadObject*;
using ThreadMain = void (*)(void* argument);

// Starts a thread running main(argument) at once; stores its id in *id when
// id is not null. Returns a joinable handle, null on failure. Any thread.
Thread ThreadStart(ThreadMain main, void* argument, ThreadId* id);
// Waits until the thread has ended and releases the handle. Blocks. Not
// from the thread itself.
void ThreadJoin(Thread thread);
// The calling thread's id. Any thread; does not block.
ThreadId ThreadCurrentId();

// ---- Thread message queue ---------------------------------------------------

struct ThreadMessage {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// Creates the calling thread's message queue, so that posts to it succeed
// from now on. Called by the receiving thread before it tells anyone its id
// is ready. Does not block.
void MessageQueueCreate();
// Posts a message to the thread's queue, first-in first-out. Returns false
// when the thread has no queue. Any thread; does not block.
bool MessagePost(ThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Takes the oldest message numbered first..last of the calling thread's
// queue, waiting for one without a time limit. Returns 1 with a message, 0
// for a quit message, -1 on failure. Blocks. Only the queue's own thread.
int MessageGet(ThreadMessage* message, uint32_t first, uint32_t last);
// Releases the calling thread's queue (messages left in it are dropped).
void MessageQueueDestroy();

// ---- Sleeps and timer resolution --------------------------------------------

// The system sleep (Sleep(ms)). Blocks.
void SleepMillis(uint32_t milliseconds);
// The short sleep: seconds and nanoseconds rounded up to whole milliseconds,
// so a request below 1 ms sleeps 1 ms and a request of zero returns at once.
void ShortSleep(long seconds, long nanoseconds);

// The timer's finest and coarsest periods in ms (timeGetDevCaps). False when
// they cannot be read.
bool TimerGetCaps(uint32_t* minimumPeriod, uint32_t* maximumPeriod);
// Raise and release the timer resolution (timeBeginPeriod/timeEndPeriod).
void TimerBeginPeriod(uint32_t period);
void TimerEndPeriod(uint32_t period);

// ===========================================================================
// HID half
// ===========================================================================

// ---- The set of present HID device interfaces ------------------------------

struct DeviceSetObject;
using DeviceSet = DeviceSetObject*;
struct DevicePathObject;
using DevicePath = DevicePathObject*;

// Obtains the set of present HID device interfaces (SetupDiGetClassDevs on
// the HID class). Null when it cannot be obtained. Any thread; may block
// briefly.
DeviceSet DeviceSetOpen();
// True when member index exists (SetupDiEnumDeviceInterfaces); false ends
// the walk.
bool DeviceSetHasInterface(DeviceSet set, uint32_t index);
// The path of member index: size query, zero-filled allocation and detail
// fetch. Null when the allocation or the fetch fails. Release with
// DevicePathFree.
DevicePath DeviceSetInterfacePath(DeviceSet set, uint32_t index);
void DevicePathFree(DevicePath path);
// Releases the set (SetupDiDestroyDeviceInfoList).
void DeviceSetClose(DeviceSet set);

// ---- Device handles and HID queries -----------------------------------------

struct DeviceObject;
using Device = DeviceObject*;

// Opens the path for overlapped reading and writing, shared for reading and
// writing, so that a device a link holds can be opened again by a walk.
// Null on failure. Any thread.
Device DeviceOpen(DevicePath path);
// Closes the handle. No transfer on it may still be outstanding.
void DeviceClose(Device device);

struct HidAttributes {
  uint16_t vendorId;
  uint16_t productId;
  uint16_t versionNumber;
};
bool HidGetAttributes(Device device, HidAttributes* attributes);

struct PreparsedObject;
using Preparsed = PreparsedObject*;
// Null on failure. Release with HidFreePreparsedData.
Preparsed HidGetPreparsedData(Device device);
// True when the capability query reports success.
bool HidGetCaps(Preparsed preparsed);
void HidFreePreparsedData(Preparsed preparsed);
// Reads the serial-number string as UTF-16 into buffer (bufferBytes bytes),
// NUL-terminated when it fits. False when it cannot be read. Leaves the
// bytes after the terminator untouched.
bool HidGetSerialNumberString(Device device, uint16_t* buffer, uint32_t bufferBytes);

// ---- Overlapped transfers ---------------------------------------------------

// One asynchronous transfer's record. The core owns it and keeps it, with
// the transfer's buffer, valid until the transfer has ended: completed,
// failed, or cancelled and then collected with OverlappedResult(wait=true).
struct Overlapped {
  Event event = nullptr;  // signalled by the backend when the transfer ends
  // Backend-private completion state; the core does not read it.
  std::atomic<uint32_t> status{0};
  std::atomic<uint32_t> transferred{0};
  void* request = nullptr;
  alignas(8) unsigned char native[32] = {};  // a Win32 OVERLAPPED
};

// Clears the record (all fields 0) and makes event its event.
void OverlappedPrepare(Overlapped* overlapped, Event event);

enum class IoStart {
  kCompleted,  // ended at once; the event is signalled
  kPending,    // started (ERROR_IO_PENDING); the event is signalled at the end
  kFailed,     // did not start; nothing outstanding, event untouched
};

// Start an overlapped write or read of length bytes. The backend resets
// nothing: the caller resets the event first. Do not block (a backend whose
// system call blocks hands the transfer to a thread of its own).
IoStart DeviceWrite(Device device, const uint8_t* data, uint32_t length, Overlapped* overlapped);
IoStart DeviceRead(Device device, uint8_t* buffer, uint32_t length, Overlapped* overlapped);

// The transfer's outcome (GetOverlappedResult). wait=false: false while it
// is still in progress. wait=true: blocks until it has ended. True when it
// succeeded, with the byte count in *transferred.
bool OverlappedResult(Device device, Overlapped* overlapped, uint32_t* transferred, bool wait);

// Cancels the transfers that the calling thread started on the device
// (CancelIo). They end soon with failure; collect each with
// OverlappedResult(wait=true) before reusing or freeing its memory.
void DeviceCancelIo(Device device);

}  // namespace ombrix::platform

#endif  // OMBRIX_PLATFORM_PLATFORM_H
