#include "registry/registry.h"

#include <cstring>

namespace ombrix {

LinkRegistry& Registry() {
  // Never destroyed: library threads and late exports may still read it
  // while the process runs its exit handlers.
  static LinkRegistry* registry = new LinkRegistry;
  return *registry;
}

Link* FindLinkBySerial(const uint8_t* serial) {
  if (serial == nullptr) return nullptr;
  for (Link* link = Registry().head.load(std::memory_order_acquire); link != nullptr;
       link = link->next.load(std::memory_order_acquire)) {
    if (std::memcmp(link->serial, serial, kSerialBytes) == 0) return link;
  }
  return nullptr;
}

void RegistryAppend(Link* link) {
  LinkRegistry& registry = Registry();
  Link* tail = registry.tail.load(std::memory_order_acquire);
  link->next.store(nullptr, std::memory_order_relaxed);
  if (registry.head.load(std::memory_order_acquire) == nullptr || tail == nullptr) {
    link->prev.store(nullptr, std::memory_order_relaxed);
    registry.tail.store(link, std::memory_order_release);
    registry.head.store(link, std::memory_order_release);
    return;
  }
  // The record is complete before the old tail's next publishes it.
  link->prev.store(tail, std::memory_order_relaxed);
  tail->next.store(link, std::memory_order_release);
  registry.tail.store(link, std::memory_order_release);
}

void RegistryUnlink(Link* link) {
  LinkRegistry& registry = Registry();
  Link* head = registry.head.load(std::memory_order_acquire);
  Link* tail = registry.tail.load(std::memory_order_acquire);
  if (head == nullptr || tail == nullptr) {
    registry.head.store(nullptr, std::memory_order_release);
    registry.tail.store(nullptr, std::memory_order_release);
    return;
  }
  if (head == link) {
    Link* successor = link->next.load(std::memory_order_acquire);
    if (successor == nullptr) {
      registry.head.store(nullptr, std::memory_order_release);
      registry.tail.store(nullptr, std::memory_order_release);
    } else {
      successor->prev.store(nullptr, std::memory_order_release);
      registry.head.store(successor, std::memory_order_release);
    }
    return;
  }
  for (Link* cursor = head->next.load(std::memory_order_acquire); cursor != nullptr;
       cursor = cursor->next.load(std::memory_order_acquire)) {
    if (cursor != link) continue;
    Link* predecessor = link->prev.load(std::memory_order_acquire);
    Link* successor = link->next.load(std::memory_order_acquire);
    predecessor->next.store(successor, std::memory_order_release);
    if (successor != nullptr) {
      successor->prev.store(predecessor, std::memory_order_release);
    } else {
      registry.tail.store(predecessor, std::memory_order_release);
    }
    return;
  }
}

bool RegistryHasLinks() { return Registry().head.load(std::memory_order_acquire) != nullptr; }

// Two reader counters, one per epoch parity: a writer flips the epoch and
// waits only for the counter of the epoch that was current before, so a
// steady stream of new readers cannot hold it up.
namespace {
std::atomic<uint32_t> g_readEpoch{0};
std::atomic<int32_t> g_readers[2];
}  // namespace

LinkReadSection::LinkReadSection() {
  for (;;) {
    uint32_t epoch = g_readEpoch.load();
    slot_ = static_cast<int>(epoch & 1u);
    g_readers[slot_].fetch_add(1);
    if (g_readEpoch.load() == epoch) return;
    g_readers[slot_].fetch_sub(1);
  }
}

LinkReadSection::~LinkReadSection() { g_readers[slot_].fetch_sub(1); }

void WaitForLinkReaders() {
  uint32_t previous = g_readEpoch.fetch_add(1);
  while (g_readers[previous & 1u].load() != 0) platform::SleepMillis(1);
}

LinkRef::LinkRef(const uint8_t* serial) {
  LinkReadSection section;
  link_ = FindLinkBySerial(serial);
  if (link_ != nullptr && link_->setUp.load(std::memory_order_acquire) == 0) link_ = nullptr;
  if (link_ != nullptr) link_->pins.fetch_add(1);
}

LinkRef::~LinkRef() {
  if (link_ != nullptr) link_->pins.fetch_sub(1);
}

}  // namespace ombrix
