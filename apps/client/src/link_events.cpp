#include "client/link_events.h"

namespace ombrix_tool {
namespace {

LinkCounters g_counters[kMaxTrackedLinks];
std::atomic<int> g_used{0};

LinkCounters* Find(int32_t linkId) {
  int used = g_used.load(std::memory_order_acquire);
  for (int i = 0; i < used; ++i) {
    if (g_counters[i].linkId.load(std::memory_order_relaxed) == linkId) return &g_counters[i];
  }
  return nullptr;
}

// I/O thread: only counts, so that it holds up no transfer.
void OMBRIX_CALL OnInputBlock(int32_t linkId, uint32_t) {
  if (LinkCounters* counters = Find(linkId)) counters->inputBlocks.fetch_add(1, std::memory_order_relaxed);
}

// Event thread.
void OMBRIX_CALL OnHeartbeat(int32_t linkId) {
  if (LinkCounters* counters = Find(linkId)) counters->heartbeats.fetch_add(1, std::memory_order_relaxed);
}

// Event thread.
void OMBRIX_CALL OnInterfaceChange(int32_t linkId) {
  if (LinkCounters* counters = Find(linkId)) {
    counters->interfaceChanges.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

LinkEvents::~LinkEvents() {
  if (heartbeatSerialSet_) api_.UnregisterHeartbeatNotification(heartbeatSerial_.data());
}

LinkCounters* LinkEvents::Track(const Serial& serial) {
  int slot = g_used.load(std::memory_order_relaxed);
  if (slot >= kMaxTrackedLinks) return nullptr;
  int32_t linkId = api_.RegisterInputChangeBlockNotificationSerial(serial.data(), OnInputBlock);
  if (linkId == 0) return nullptr;
  // Published before the id can be found: a block that arrived in between
  // was simply not counted.
  g_counters[slot].linkId.store(linkId, std::memory_order_relaxed);
  g_used.store(slot + 1, std::memory_order_release);
  api_.RegisterInterfaceChangeNotificationSerial(serial.data(), OnInterfaceChange);
  if (!heartbeatSerialSet_ && api_.RegisterHeartbeatNotification(serial.data(), OnHeartbeat) != 0) {
    heartbeatSerial_ = serial;
    heartbeatSerialSet_ = true;
  }
  return &g_counters[slot];
}

}  // namespace ombrix_tool
