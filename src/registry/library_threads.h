// The library's two threads as a pair: starting them for the first link,
// collecting them after the last, and telling whether the caller is one.
#ifndef OMBRIX_REGISTRY_LIBRARY_THREADS_H
#define OMBRIX_REGISTRY_LIBRARY_THREADS_H

#include <cstdint>

#include "platform/platform.h"

namespace ombrix {

// Serialises the exports that change the registry or a callback slot
// (OpenLink, CloseLink, CloseAllLinks, the registrations), which must not
// run concurrently with each other.
platform::RecursiveLock& ControlLock();

// True on the I/O thread and the event thread. The exports that wait for
// those threads refuse to run there: they would wait for themselves.
bool OnLibraryThread();
// Called first and last by each library thread.
void EnterLibraryThread();
void LeaveLibraryThread();

// Library threads started and not yet at their very end.
int32_t LibraryThreadsRunning();

// Starts the event thread, waits until its message queue exists, then
// starts the I/O thread. Any threads of an earlier generation are collected
// first, so two I/O threads never serve the registry. Returns false when a
// thread could not be started. Under ControlLock().
bool StartLibraryThreads(void* firstLink);
// Called by the event thread once its queue accepts posts.
void SignalEventThreadReady();
// Waits for threads that have ended or are ending (the registry is empty)
// and releases them. Under ControlLock().
void CollectLibraryThreads();

}  // namespace ombrix

#endif  // OMBRIX_REGISTRY_LIBRARY_THREADS_H
