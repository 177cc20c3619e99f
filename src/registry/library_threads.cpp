#include "registry/library_threads.h"

#include <atomic>

#include "io/io_thread.h"
#include "notify/event_thread.h"
#include "registry/registry.h"

namespace ombrix {
namespace {

OMBRIX_THREAD_LOCAL bool t_onLibraryThread = false;
std::atomic<int32_t> g_threadsRunning{0};
// Guarded by ControlLock().
platform::Thread g_eventThread = nullptr;
platform::Thread g_ioThread = nullptr;
platform::Event g_eventThreadReady = nullptr;

}  // namespace

platform::RecursiveLock& ControlLock() {
  static platform::RecursiveLock* lock = new platform::RecursiveLock;
  return *lock;
}

bool OnLibraryThread() { return t_onLibraryThread; }
void EnterLibraryThread() { t_onLibraryThread = true; }
void LeaveLibraryThread() { g_threadsRunning.fetch_sub(1, std::memory_order_acq_rel); }
int32_t LibraryThreadsRunning() { return g_threadsRunning.load(std::memory_order_acquire); }

void SignalEventThreadReady() { platform::EventSet(g_eventThreadReady); }

void CollectLibraryThreads() {
  platform::ThreadJoin(g_ioThread);
  platform::ThreadJoin(g_eventThread);
  g_ioThread = nullptr;
  g_eventThread = nullptr;
}

bool StartLibraryThreads(void* firstLink) {
  CollectLibraryThreads();
  if (g_eventThreadReady == nullptr) g_eventThreadReady = platform::EventCreate();
  platform::EventReset(g_eventThreadReady);

  platform::ThreadId eventId = 0;
  g_threadsRunning.fetch_add(1, std::memory_order_acq_rel);
  g_eventThread = platform::ThreadStart(EventThread, firstLink, &eventId);
  if (g_eventThread == nullptr) {
    g_threadsRunning.fetch_sub(1, std::memory_order_acq_rel);
    return false;
  }
  Registry().eventThreadId.store(eventId, std::memory_order_release);
  // The I/O thread's first post (the new link's resume) must find the
  // event thread's queue in place.
  platform::EventWait(g_eventThreadReady, platform::kInfinite);

  g_threadsRunning.fetch_add(1, std::memory_order_acq_rel);
  g_ioThread = platform::ThreadStart(IoThread, firstLink, nullptr);
  if (g_ioThread == nullptr) {
    g_threadsRunning.fetch_sub(1, std::memory_order_acq_rel);
    return false;
  }
  return true;
}

}  // namespace ombrix
