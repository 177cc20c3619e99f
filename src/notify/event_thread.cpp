#include "notify/event_thread.h"

#include "notify/messages.h"
#include "registry/library_threads.h"
#include "registry/registry.h"

namespace ombrix {
namespace {

bool RegistryEmpty() {
  LinkRegistry& registry = Registry();
  return registry.head.load(std::memory_order_acquire) == nullptr ||
         registry.tail.load(std::memory_order_acquire) == nullptr;
}

// The record with this address if it is still registered. Compares
// addresses only, so a record that has left the list is never read.
Link* FindRegistered(intptr_t address) {
  for (Link* link = Registry().head.load(std::memory_order_acquire); link != nullptr;
       link = link->next.load(std::memory_order_acquire)) {
    if (reinterpret_cast<intptr_t>(link) == address) return link;
  }
  return nullptr;
}

bool Dispatching(const Link& link) { return link.eventAck.load(std::memory_order_acquire) == kAckDispatching; }

void CallHeartbeat(const Link& link) {
  if (HeartbeatCallback callback = Registry().onHeartbeat.load(std::memory_order_acquire)) {
    callback(link.linkId);
  }
}

void Act(uint32_t message, Link& link) {
  LinkRegistry& registry = Registry();
  switch (message) {
    case kMsgInputChange:
      if (!Dispatching(link)) return;
      if (InputChangeCallback callback = registry.onInputChange.load(std::memory_order_acquire)) callback();
      CallHeartbeat(link);
      return;
    case kMsgInterfaceChange:
      if (!Dispatching(link)) return;
      if (InterfaceChangeCallback callback = registry.onInterfaceChange.load(std::memory_order_acquire)) {
        callback();
      }
      if (InterfaceChangeSerialCallback callback = link.onInterfaceChange.load(std::memory_order_acquire)) {
        callback(link.linkId);
      }
      return;
    case kMsgHeartbeat:
      if (Dispatching(link)) CallHeartbeat(link);
      return;
    case kMsgResume:
      link.eventAck.store(kAckDispatching, std::memory_order_release);
      return;
    case kMsgPause:
      link.eventAck.store(kAckHeld, std::memory_order_release);
      return;
    case kMsgDetach:
      registry.busy.store(1, std::memory_order_release);
      link.eventAck.store(kAckDetached, std::memory_order_release);
      return;
    default:
      return;
  }
}

}  // namespace

void EventThread(void*) {
  EnterLibraryThread();
  platform::MessageQueueCreate();
  SignalEventThreadReady();
  LinkRegistry& registry = Registry();
  for (;;) {
    platform::ThreadMessage message{};
    int got = platform::MessageGet(&message, kMsgFirst, kMsgLast);
    bool dropped = got <= 0 || registry.busy.load(std::memory_order_acquire) == 1 || message.message == kMsgClosed;
    if (!dropped) {
      if (registry.head.load(std::memory_order_acquire) == nullptr) break;
      Link* link = FindRegistered(message.lParam);
      if (link == nullptr) {
        if (registry.tail.load(std::memory_order_acquire) == nullptr) break;
        continue;
      }
      Act(message.message, *link);
    }
    if (RegistryEmpty()) break;
  }
  platform::MessageQueueDestroy();
  LeaveLibraryThread();
}

}  // namespace ombrix
