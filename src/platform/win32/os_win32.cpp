// OS half of the platform contract over Win32: a thin mapping, since the
// contract was shaped after these very calls. Events are manual-reset event
// objects, the lock is a critical section, thread messages use the thread's
// own USER32 message queue and the timer is the multimedia timer.
//
// Handles stand in for the contract's opaque pointers (an Event is a HANDLE,
// a Thread is the thread's HANDLE), so nothing here allocates per object
// beyond what Windows itself does.
#include <windows.h>
#include <mmsystem.h>
#include <process.h>

#include <new>

#include "platform/platform.h"

namespace ombrix::platform {
namespace {

HANDLE AsHandle(Event event) { return reinterpret_cast<HANDLE>(event); }

// Rounds a microsecond wait up to whole milliseconds, never reaching the
// INFINITE value by accident.
DWORD MicrosToMillis(uint64_t micros) {
  uint64_t millis = (micros + 999u) / 1000u;
  return millis >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(millis);
}

WaitResult FromWait(DWORD result) {
  if (result == WAIT_OBJECT_0) return WaitResult::kSignalled;
  if (result == WAIT_TIMEOUT) return WaitResult::kTimeout;
  return WaitResult::kFailed;
}

}  // namespace

// ---- Manual-reset events ------------------------------------------------------

Event EventCreate() {
  HANDLE handle = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  return reinterpret_cast<Event>(handle);  // CreateEvent fails with NULL
}

void EventSet(Event event) { SetEvent(AsHandle(event)); }
void EventReset(Event event) { ResetEvent(AsHandle(event)); }
void EventClose(Event event) {
  if (event != nullptr) CloseHandle(AsHandle(event));
}

WaitResult EventWait(Event event, uint32_t timeoutMs) {
  return FromWait(WaitForSingleObject(AsHandle(event), timeoutMs));
}

WaitResult EventWaitMicros(Event event, uint64_t timeoutMicros) {
  return FromWait(WaitForSingleObject(AsHandle(event), MicrosToMillis(timeoutMicros)));
}

int EventWaitAny(const Event* events, uint32_t count, uint32_t timeoutMs) {
  if (count == 0 || count > kMaxWaitEvents) return -2;
  static_assert(kMaxWaitEvents == MAXIMUM_WAIT_OBJECTS, "the contract's limit is the system's");
  HANDLE handles[kMaxWaitEvents];
  for (uint32_t i = 0; i < count; ++i) handles[i] = AsHandle(events[i]);
  DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
  if (result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
  if (result == WAIT_TIMEOUT) return -1;
  return -2;  // WAIT_FAILED; abandonment cannot happen with events
}

// ---- Re-entrant lock ------------------------------------------------------------

static_assert(sizeof(CRITICAL_SECTION) <= 64, "lock storage too small");
static_assert(alignof(CRITICAL_SECTION) <= 16, "lock storage under-aligned");

RecursiveLock::RecursiveLock() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
RecursiveLock::~RecursiveLock() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void RecursiveLock::Enter() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void RecursiveLock::Leave() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

// ---- Transfer lock ----------------------------------------------------------------
// A critical section as well: Windows keeps no lock order to check, so the
// reason the POSIX half keeps this lock apart does not arise here.

static_assert(sizeof(CRITICAL_SECTION) <= 128, "transfer lock storage too small");

TransferLock::TransferLock() { InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
TransferLock::~TransferLock() { DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void TransferLock::Enter() { EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
void TransferLock::Leave() { LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

// ---- Threads ------------------------------------------------------------------------

namespace {

struct ThreadStartRecord {
  ThreadMain main;
  void* argument;
};

// The C runtime's thread start, so that the runtime's per-thread state is
// set up and released with the thread. The record is freed here, before
// main runs, because main may run for the thread's whole life.
unsigned __stdcall ThreadEntry(void* raw) {
  ThreadStartRecord record = *static_cast<ThreadStartRecord*>(raw);
  delete static_cast<ThreadStartRecord*>(raw);
  record.main(record.argument);
  return 0;
}

}  // namespace

Thread ThreadStart(ThreadMain main, void* argument, ThreadId* id) {
  ThreadStartRecord* record = new (std::nothrow) ThreadStartRecord{main, argument};
  if (record == nullptr) return nullptr;
  unsigned threadId = 0;
  uintptr_t handle = _beginthreadex(nullptr, 0, ThreadEntry, record, 0, &threadId);
  if (handle == 0) {
    delete record;
    return nullptr;
  }
  if (id != nullptr) *id = threadId;
  return reinterpret_cast<Thread>(handle);
}

void ThreadJoin(Thread thread) {
  if (thread == nullptr) return;
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
}

ThreadId ThreadCurrentId() { return GetCurrentThreadId(); }

// ---- Thread message queue -------------------------------------------------------------

// Windows gives a thread its message queue on the thread's first USER32
// call that needs one; peeking is the documented way to force it, after
// which PostThreadMessage to the thread succeeds.
void MessageQueueCreate() {
  MSG message;
  PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

bool MessagePost(ThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostThreadMessageA(thread, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)) != 0;
}

int MessageGet(ThreadMessage* message, uint32_t first, uint32_t last) {
  MSG native;
  BOOL got = GetMessageA(&native, nullptr, first, last);
  if (got == -1) return -1;
  if (got == 0) return 0;  // WM_QUIT, which GetMessage returns whatever the range
  message->message = native.message;
  message->wParam = static_cast<uintptr_t>(native.wParam);
  message->lParam = static_cast<intptr_t>(native.lParam);
  return 1;
}

// A Win32 queue lives as long as its thread and cannot be released early;
// what is left in it is dropped, so that nothing that names a freed record
// survives in it. A post that arrives after this and before the thread ends
// still succeeds and is dropped with the thread.
void MessageQueueDestroy() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// ---- Sleeps and timer resolution ---------------------------------------------------------

void SleepMillis(uint32_t milliseconds) { Sleep(milliseconds); }

void ShortSleep(long seconds, long nanoseconds) {
  if (seconds <= 0 && nanoseconds <= 0) return;
  long long total = static_cast<long long>(seconds) * 1000000000LL + nanoseconds;
  long long millis = (total + 999999LL) / 1000000LL;
  if (millis >= static_cast<long long>(INFINITE)) millis = INFINITE - 1;
  Sleep(static_cast<DWORD>(millis));
}

bool TimerGetCaps(uint32_t* minimumPeriod, uint32_t* maximumPeriod) {
  TIMECAPS caps{};
  if (timeGetDevCaps(&caps, sizeof caps) != MMSYSERR_NOERROR) return false;
  *minimumPeriod = caps.wPeriodMin;
  *maximumPeriod = caps.wPeriodMax;
  return true;
}

void TimerBeginPeriod(uint32_t period) { timeBeginPeriod(period); }
void TimerEndPeriod(uint32_t period) { timeEndPeriod(period); }

}  // namespace ombrix::platform
