// The LinkRegistry: the process-wide list of Link records and the few
// process-wide values that go with it.
//
// The list has no lock. It is appended to only by the open path while every
// other link is Paused, and unlinked from only by the I/O thread while it
// closes a link; both keep head/tail/prev/next consistent at every store,
// so the library threads and the exports can walk it at any time. Records
// are freed only by CloseLink, after every export walk that could have
// reached the record has ended (LinkReadSection) and no pin is left.
#ifndef OMBRIX_REGISTRY_REGISTRY_H
#define OMBRIX_REGISTRY_REGISTRY_H

#include <atomic>
#include <cstdint>

#include "ombrix_usb.h"
#include "platform/platform.h"
#include "registry/link.h"

namespace ombrix {

struct LinkRegistry {
  // Written by the open path (append) and the I/O thread (unlink).
  std::atomic<Link*> head{nullptr};
  std::atomic<Link*> tail{nullptr};
  // Ids handed out so far; only the open path (serialised) increments it.
  std::atomic<int32_t> nextId{0};
  // Set by the event thread (detach) and the I/O thread (around an unlink),
  // cleared by the I/O thread and the open path; the event thread drops
  // every message while it is 1.
  std::atomic<uint8_t> busy{0};
  // Written by the open path before the I/O thread starts; read by the I/O
  // thread for every post.
  std::atomic<platform::ThreadId> eventThreadId{0};
  // Process-wide callbacks: written by the registration exports while every
  // link is Paused (Heartbeat: while the registering link is Paused); read
  // by the event thread, and the block callback by the I/O thread.
  std::atomic<InputChangeCallback> onInputChange{nullptr};
  std::atomic<InputChangeBlockCallback> onInputChangeBlock{nullptr};
  std::atomic<InterfaceChangeCallback> onInterfaceChange{nullptr};
  std::atomic<HeartbeatCallback> onHeartbeat{nullptr};
};

LinkRegistry& Registry();

// First record whose 16 serial bytes equal those at serial (a plain memory
// comparison); null when none matches or serial is null. An export calls it
// only inside a LinkReadSection; the library threads call it freely.
Link* FindLinkBySerial(const uint8_t* serial);

// Appends the record at the tail. The caller has paused every other link.
void RegistryAppend(Link* link);
// Removes the record from the list; a record that is not found leaves the
// list unchanged, and a list whose head or tail is null is set empty.
// I/O thread only.
void RegistryUnlink(Link* link);
// True when the list holds a record.
bool RegistryHasLinks();

// Marks a stretch in which an export walks the list or holds a record found
// there. CloseLink waits, after the unlink, until every section that began
// before it has ended, so no export ever reads a freed record.
class LinkReadSection {
 public:
  LinkReadSection();
  ~LinkReadSection();
  LinkReadSection(const LinkReadSection&) = delete;
  LinkReadSection& operator=(const LinkReadSection&) = delete;

 private:
  int slot_;
};
// Waits until every LinkReadSection that began before the call has ended.
// Called by CloseLink (serialised) with the record already unlinked.
void WaitForLinkReaders();

// A record found by serial and pinned, so that it outlives a concurrent
// CloseLink for as long as this object lives. Empty when not found or when
// OpenLink has not finished setting it up.
class LinkRef {
 public:
  explicit LinkRef(const uint8_t* serial);
  ~LinkRef();
  LinkRef(const LinkRef&) = delete;
  LinkRef& operator=(const LinkRef&) = delete;

  Link* get() const { return link_; }
  Link* operator->() const { return link_; }
  explicit operator bool() const { return link_ != nullptr; }

 private:
  Link* link_;
};

}  // namespace ombrix

#endif  // OMBRIX_REGISTRY_REGISTRY_H
