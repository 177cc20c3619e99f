// OS half of the platform contract over POSIX threads.
//
// Events share one mutex and one condition variable: a wait on several
// events then needs no per-wait registration beyond a count on each event,
// and the library has few waiters (the I/O thread, synchronous writers, the
// simulator's clock).
#include <pthread.h>
#include <time.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "platform/platform.h"

namespace ombrix::platform {

// signalled is stored under the hub's mutex when set (so that a waiter that
// has checked it under the mutex cannot miss the wake-up) and read without
// it by tests of the state: the I/O thread tests two events per link on
// every pass. waiters counts the threads blocked on the event (guarded by
// the hub's mutex); a set with none of them wakes nobody.
struct EventObject {
  std::atomic<bool> signalled{true};
  uint32_t waiters = 0;
};

namespace {

struct EventHub {
  std::mutex mutex;
  std::condition_variable changed;
};

EventHub& Hub() {
  static EventHub* hub = new EventHub;  // outlives every thread at exit
  return *hub;
}

bool AnySignalled(const Event* events, uint32_t count, int* index) {
  for (uint32_t i = 0; i < count; ++i) {
    if (events[i] != nullptr && events[i]->signalled.load(std::memory_order_acquire)) {
      *index = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

void CountWaiter(const Event* events, uint32_t count, int change) {
  for (uint32_t i = 0; i < count; ++i) {
    if (events[i] != nullptr) events[i]->waiters += static_cast<uint32_t>(change);
  }
}

int WaitAnyUntil(const Event* events, uint32_t count, bool limited, std::chrono::steady_clock::time_point deadline) {
  if (count == 0 || count > kMaxWaitEvents) return -2;
  EventHub& hub = Hub();
  std::unique_lock<std::mutex> lock(hub.mutex);
  int index = -1;
  if (AnySignalled(events, count, &index)) return index;
  if (limited && std::chrono::steady_clock::now() >= deadline) return -1;
  CountWaiter(events, count, 1);
  for (;;) {
    if (!limited) {
      hub.changed.wait(lock);
    } else if (hub.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
      if (!AnySignalled(events, count, &index)) index = -1;
      break;
    }
    if (AnySignalled(events, count, &index)) break;
  }
  CountWaiter(events, count, -1);
  return index;
}

int WaitAnyMillis(const Event* events, uint32_t count, uint32_t timeoutMs) {
  if (timeoutMs == 0) {
    // A test of the state costs neither a lock nor a system call.
    if (count == 0 || count > kMaxWaitEvents) return -2;
    int index = -1;
    return AnySignalled(events, count, &index) ? index : -1;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  return WaitAnyUntil(events, count, timeoutMs != kInfinite, deadline);
}

}  // namespace

Event EventCreate() { return new (std::nothrow) EventObject; }

void EventSet(Event event) {
  EventHub& hub = Hub();
  bool waited;
  {
    std::lock_guard<std::mutex> lock(hub.mutex);
    event->signalled.store(true, std::memory_order_release);
    waited = event->waiters != 0;
  }
  if (waited) hub.changed.notify_all();
}

// A reset never wakes anyone, so it needs no lock: a waiter that reads the
// event just before it sees it signalled, as it would have a moment earlier.
void EventReset(Event event) { event->signalled.store(false, std::memory_order_release); }

void EventClose(Event event) { delete event; }

WaitResult EventWait(Event event, uint32_t timeoutMs) {
  int result = WaitAnyMillis(&event, 1, timeoutMs);
  return result == 0 ? WaitResult::kSignalled : result == -1 ? WaitResult::kTimeout : WaitResult::kFailed;
}

WaitResult EventWaitMicros(Event event, uint64_t timeoutMicros) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeoutMicros);
  int result = WaitAnyUntil(&event, 1, true, deadline);
  return result == 0 ? WaitResult::kSignalled : result == -1 ? WaitResult::kTimeout : WaitResult::kFailed;
}

int EventWaitAny(const Event* events, uint32_t count, uint32_t timeoutMs) {
  return WaitAnyMillis(events, count, timeoutMs);
}

// ---- Re-entrant lock ---------------------------------------------------------

static_assert(sizeof(pthread_mutex_t) <= 64, "lock storage too small");

RecursiveLock::RecursiveLock() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), &attributes);
  pthread_mutexattr_destroy(&attributes);
}

RecursiveLock::~RecursiveLock() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void RecursiveLock::Enter() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void RecursiveLock::Leave() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

// ---- Transfer lock ------------------------------------------------------------
// Ownership is a field guarded by a mutex that is held only inside Enter
// and Leave, so a transfer lock held across passes never counts as a held
// mutex (which would make every change of order between links look like a
// lock-order inversion).

namespace {

struct TransferLockState {
  std::mutex mutex;
  std::condition_variable released;
  ThreadId owner = 0;
  uint32_t depth = 0;
};

}  // namespace

static_assert(sizeof(TransferLockState) <= 128, "transfer lock storage too small");

TransferLock::TransferLock() { new (storage_) TransferLockState; }
TransferLock::~TransferLock() { reinterpret_cast<TransferLockState*>(storage_)->~TransferLockState(); }

void TransferLock::Enter() {
  auto* state = reinterpret_cast<TransferLockState*>(storage_);
  ThreadId self = ThreadCurrentId();
  std::unique_lock<std::mutex> lock(state->mutex);
  state->released.wait(lock, [&] { return state->owner == 0 || state->owner == self; });
  state->owner = self;
  ++state->depth;
}

void TransferLock::Leave() {
  auto* state = reinterpret_cast<TransferLockState*>(storage_);
  std::lock_guard<std::mutex> lock(state->mutex);
  if (state->depth == 0) return;
  if (--state->depth == 0) {
    state->owner = 0;
    state->released.notify_all();
  }
}

// ---- Threads and their message queues ---------------------------------------

namespace {

std::atomic<ThreadId> g_lastThreadId{0};
OMBRIX_THREAD_LOCAL ThreadId t_threadId = 0;

struct MessageQueue {
  std::deque<ThreadMessage> messages;  // guarded by the queue table's mutex
  std::condition_variable arrived;
};

struct QueueTable {
  std::mutex mutex;
  std::map<ThreadId, MessageQueue*> queues;
};

QueueTable& Queues() {
  static QueueTable* table = new QueueTable;
  return *table;
}

}  // namespace

struct ThreadObject {
  std::thread thread;
};

ThreadId ThreadCurrentId() {
  if (t_threadId == 0) t_threadId = g_lastThreadId.fetch_add(1) + 1;
  return t_threadId;
}

Thread ThreadStart(ThreadMain main, void* argument, ThreadId* id) {
  // The id is fixed before the thread runs, so the starter can publish it
  // before the new thread's first action.
  ThreadId newId = g_lastThreadId.fetch_add(1) + 1;
  ThreadObject* object = new (std::nothrow) ThreadObject;
  if (object == nullptr) return nullptr;
  try {
    object->thread = std::thread([main, argument, newId] {
      t_threadId = newId;
      main(argument);
    });
  } catch (...) {
    delete object;
    return nullptr;
  }
  if (id != nullptr) *id = newId;
  return object;
}

void ThreadJoin(Thread thread) {
  if (thread == nullptr) return;
  if (thread->thread.joinable()) thread->thread.join();
  delete thread;
}

void MessageQueueCreate() {
  QueueTable& table = Queues();
  std::lock_guard<std::mutex> lock(table.mutex);
  MessageQueue*& queue = table.queues[ThreadCurrentId()];
  if (queue == nullptr) queue = new MessageQueue;
}

bool MessagePost(ThreadId thread, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  QueueTable& table = Queues();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.queues.find(thread);
  if (found == table.queues.end()) return false;
  found->second->messages.push_back(ThreadMessage{message, wParam, lParam});
  found->second->arrived.notify_one();
  return true;
}

int MessageGet(ThreadMessage* message, uint32_t first, uint32_t last) {
  QueueTable& table = Queues();
  std::unique_lock<std::mutex> lock(table.mutex);
  auto found = table.queues.find(ThreadCurrentId());
  if (found == table.queues.end()) return -1;
  MessageQueue* queue = found->second;
  for (;;) {
    for (auto it = queue->messages.begin(); it != queue->messages.end(); ++it) {
      if (it->message >= first && it->message <= last) {
        *message = *it;
        queue->messages.erase(it);
        return 1;
      }
    }
    queue->arrived.wait(lock);
  }
}

void MessageQueueDestroy() {
  QueueTable& table = Queues();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.queues.find(ThreadCurrentId());
  if (found == table.queues.end()) return;
  delete found->second;
  table.queues.erase(found);
}

// ---- Sleeps and timer ----------------------------------------------------------

void SleepMillis(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

void ShortSleep(long seconds, long nanoseconds) {
  if (seconds <= 0 && nanoseconds <= 0) return;
  long long total = static_cast<long long>(seconds) * 1000000000LL + nanoseconds;
  long long millis = (total + 999999LL) / 1000000LL;
  SleepMillis(static_cast<uint32_t>(millis));
}

// POSIX sleeps already have sub-millisecond resolution, so the capabilities
// describe a 1 ms timer. What stands in for raising the resolution is the
// calling thread's timer slack: the kernel may otherwise let a wake-up slip
// by 50 us, 5 % of a USB frame.
bool TimerGetCaps(uint32_t* minimumPeriod, uint32_t* maximumPeriod) {
  *minimumPeriod = 1;
  *maximumPeriod = 1000000;
  return true;
}

void TimerBeginPeriod(uint32_t) {
#if defined(__linux__)
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
#endif
}

void TimerEndPeriod(uint32_t) {
#if defined(__linux__)
  prctl(PR_SET_TIMERSLACK, 0UL, 0, 0, 0);  // back to the thread's default
#endif
}

}  // namespace ombrix::platform
