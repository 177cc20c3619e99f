// OpenLink and the creation of a Link: the open scan, the initial state,
// the insertion into the registry and the start of the library threads.
#include <cstring>
#include <new>

#include "discovery/scan.h"
#include "io/reports.h"
#include "io/sync_write.h"
#include "ombrix_usb.h"
#include "output/frame_queue.h"
#include "registry/handshake.h"
#include "registry/library_threads.h"
#include "registry/registry.h"

namespace ombrix {
namespace {

constexpr int kOpenScanRuns = 4;
constexpr uint32_t kOpenModeTimeoutMs = 100;

struct OpenScanContext {
  const uint8_t* serial;
  Link* link;
  ScannedInterface found;
};

// An interface whose serial cannot be read is taken for any serial; one
// with an empty serial string never is.
ScanDecision OpenScanVisitor(const ScannedInterface& found, void* context) {
  auto* scan = static_cast<OpenScanContext*>(context);
  if (found.serialReadable && (found.firstUnit == 0 || std::memcmp(found.serial, scan->serial, kSerialBytes) != 0)) {
    return ScanDecision::kPassOver;
  }
  scan->link = new (std::nothrow) Link;
  if (scan->link == nullptr) return ScanDecision::kPassOver;
  scan->found = found;
  return ScanDecision::kEndAndKeep;
}

// The values CreateLink gives a new record; it stays Paused and held so
// that the library threads leave it alone once it is visible.
void InitialiseLink(Link& link, const uint8_t* serial, const ScannedInterface& found) {
  link.device = found.device;
  link.readEvent = platform::EventCreate();
  link.writeEvent = platform::EventCreate();
  link.isOpen.store(1, std::memory_order_release);
  std::memcpy(link.serial, serial, kSerialBytes);
  link.vendorId = found.attributes.vendorId;
  link.productId = found.attributes.productId;
  link.releaseNumber = found.attributes.versionNumber;
  link.control.store(kControlPaused, std::memory_order_release);
  link.eventAck.store(kAckHeld, std::memory_order_release);
  for (int32_t& dirty : link.blockDirty) dirty = kBlockDirtyAll;
  link.queueMode = 1;
  link.modeRequested.store(0, std::memory_order_release);
  link.modeActive.store(0, std::memory_order_release);
}

// Appends the record while every other link is parked, so neither library
// thread ever meets a half-linked list.
void InsertLink(Link& link) {
  LinkRegistry& registry = Registry();
  if (registry.head.load(std::memory_order_acquire) != nullptr &&
      registry.tail.load(std::memory_order_acquire) != nullptr) {
    PauseAllLinks(PollSleep::kShort100Micros);
    RegistryAppend(&link);
    for (Link* other = registry.head.load(std::memory_order_acquire); other != nullptr;
         other = other->next.load(std::memory_order_acquire)) {
      if (other != &link) ResumeLink(*other);
    }
  } else {
    RegistryAppend(&link);
  }
  registry.busy.store(0, std::memory_order_release);
}

Link* CreateLink(const uint8_t* serial) {
  OpenScanContext scan{serial, nullptr, {}};
  ScanInterfaces(true, OpenScanVisitor, &scan);
  if (scan.link == nullptr) return nullptr;
  InitialiseLink(*scan.link, serial, scan.found);
  scan.link->linkId = Registry().nextId.fetch_add(1, std::memory_order_acq_rel) + 1;
  InsertLink(*scan.link);
  return scan.link;
}

// OpenLink's set-up of the new, still Paused link.
void SetUpLink(Link& link, uint8_t* outputUniverse, uint8_t* inputUniverse) {
  link.control.store(kControlPaused, std::memory_order_release);
  link.outputUniverse = outputUniverse;
  link.inputUniverse = inputUniverse;
  if (inputUniverse != nullptr) std::memset(inputUniverse, 0, kUniverseBytes);

  QueueReset(link);
  if (outputUniverse == nullptr) {
    // A queue-mode link starts with one blank universe waiting.
    QueuePushFrame(link, link.sentShadow);
    link.queueMode = 1;
  } else {
    link.queueMode = 0;
  }

  {
    platform::LockGuard guard(link.configLock);
    link.cfgByte = 0;
    link.cfgParam1 = link.cfgParam2 = link.cfgParam3 = link.cfgParam4 = 0;
    link.cfgLength = link.cfgLastByte = 0;
  }
  link.advTxPending.store(0, std::memory_order_release);
  link.storePending.store(0, std::memory_order_release);
  link.eventAck.store(kAckHeld, std::memory_order_release);
  link.writePending = 0;
  link.readPending = 0;
  link.onInterfaceChange.store(nullptr, std::memory_order_release);
  link.onInputChangeBlock.store(nullptr, std::memory_order_release);
  link.control.store(kControlPaused, std::memory_order_release);
}

bool LibraryThreadsServe() {
  for (Link* link = Registry().head.load(std::memory_order_acquire); link != nullptr;
       link = link->next.load(std::memory_order_acquire)) {
    if (link->ioThreadMarker.load(std::memory_order_acquire) != 0) return true;
  }
  return false;
}

}  // namespace
}  // namespace ombrix

using namespace ombrix;

extern "C" OMBRIX_API int32_t OMBRIX_CALL OpenLink(const uint8_t* serial, uint8_t* outputUniverse,
                                                   uint8_t* inputUniverse) {
  if (serial == nullptr || OnLibraryThread()) return 0;
  platform::LockGuard control(ControlLock());
  if (FindLinkBySerial(serial) != nullptr) return 1;  // kept as it is

  Link* link = nullptr;
  for (int run = 0; run < kOpenScanRuns && link == nullptr; ++run) link = CreateLink(serial);
  if (link == nullptr) return 0;

  SetUpLink(*link, outputUniverse, inputUniverse);
  // The link is Paused: the I/O thread leaves its device alone meanwhile.
  // The interface may refuse the command; the link opens all the same.
  uint8_t payload[kPayloadBytes];
  BuildSetModeReport(payload, 0);
  SyncWriteReport(link, payload, kPayloadBytes, kOpenModeTimeoutMs);

  bool running = LibraryThreadsServe();
  link->ioThreadMarker.store(1, std::memory_order_release);
  if (!running) StartLibraryThreads(link);
  link->setUp.store(1, std::memory_order_release);
  link->control.store(kControlRun, std::memory_order_release);
  return 1;
}
