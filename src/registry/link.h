// The Link record: everything the library knows about one open interface.
//
// Three kinds of thread touch a Link: application threads (the exports),
// the I/O thread and the event thread. There is no lock around the record as
// a whole; next to each field group below stands who writes it, who reads it
// and how the hand-over is published.
#ifndef OMBRIX_REGISTRY_LINK_H
#define OMBRIX_REGISTRY_LINK_H

#include <atomic>
#include <cstdint>

#include "ombrix_usb.h"
#include "platform/platform.h"

namespace ombrix {

constexpr int kSerialBytes = 16;
constexpr int kUniverseBytes = 512;
constexpr int kBlockCount = 16;
constexpr int kBlockBytes = 32;
constexpr int kPayloadBytes = 33;
constexpr int kReportBytes = 34;
constexpr int kQueueSlots = 5;
constexpr int32_t kBlockDirtyAll = 0x01010101;

// LinkControl: written by API callers (Run, Close, Pause) and by the I/O
// thread (Paused, Closed), each only in its own turn of the handshake.
enum LinkControl : uint8_t {
  kControlRun = 0,
  kControlClose = 1,
  kControlClosed = 2,
  kControlPause = 3,
  kControlPaused = 4,
};

// EventAck: written only by the event thread once the link is set up.
enum EventAck : uint8_t {
  kAckDispatching = 0,
  kAckDetached = 2,
  kAckHeld = 4,
};

struct Link {
  // ---- Device and transfer machinery ---------------------------------------
  // Set by the open path before the link is visible; afterwards the I/O
  // thread owns the asynchronous transfers. readLock/writeLock are held for
  // as long as a read/write is outstanding, whichever thread started it, so
  // the synchronous writes (open path, close) share the device safely.
  platform::Device device = nullptr;
  platform::Event readEvent = nullptr;
  platform::Event writeEvent = nullptr;
  platform::TransferLock readLock;
  platform::TransferLock writeLock;
  // 1 from creation on; read by the synchronous write and the listing.
  std::atomic<int32_t> isOpen{0};

  // ---- Registry chain ---------------------------------------------------------
  // Written by the open path (append, while every other link is Paused) and
  // by the I/O thread (unlink, while closing); read by every thread that
  // walks the list. Atomic so that walkers read whole, published pointers.
  std::atomic<Link*> prev{nullptr};
  std::atomic<Link*> next{nullptr};

  // ---- Per-link callbacks -----------------------------------------------------
  // Written by the registration exports only while this link is Paused; read
  // by the event thread (onInterfaceChange) and the I/O thread
  // (onInputChangeBlock).
  std::atomic<InterfaceChangeSerialCallback> onInterfaceChange{nullptr};
  std::atomic<InputChangeBlockSerialCallback> onInputChangeBlock{nullptr};

  // ---- Identity ---------------------------------------------------------------
  // Written once by the open path before the link is visible; read-only
  // afterwards.
  int32_t linkId = 0;
  uint8_t serial[kSerialBytes] = {};
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  int32_t releaseNumber = 0;

  // 1 once OpenLink has set the link up (buffers, output source, queue);
  // stored with release just before the link runs. The per-interface
  // exports leave a link alone until then, so they never race its set-up.
  std::atomic<uint8_t> setUp{0};

  // Non-zero while the library threads serve this link; set by the open
  // path, cleared by the I/O thread when it closes the link, read by later
  // opens to learn whether the threads run.
  std::atomic<int32_t> ioThreadMarker{0};

  // ---- Handshake bytes (release stores, acquire loads) ---------------------
  std::atomic<uint8_t> control{kControlPaused};
  std::atomic<uint8_t> eventAck{kAckHeld};

  // ---- Output scheduling: I/O thread only once the link runs ----------------
  int32_t blockDirty[kBlockCount] = {};
  int32_t blockCursor = 0;
  int32_t writePending = 0;
  int32_t blockInFlight = 0;
  uint8_t txPayload[kPayloadBytes] = {};
  uint8_t txReport[kReportBytes] = {};
  platform::Overlapped writeOverlapped;
  uint8_t sentShadow[kUniverseBytes] = {};

  // ---- Input: I/O thread only once the link runs ----------------------------
  int32_t inputBlockCount = 0;
  int32_t readIdleCount = 0;
  int32_t readPending = 0;

  // ---- Failure reporting: I/O thread only once the link runs ----------------
  // Per side (index 0 reads, 1 writes): 1 once an interface change has been
  // posted for a transfer of that side and none of that side has succeeded
  // since.
  int32_t failureReported[2] = {};
  uint8_t rxReport[kReportBytes] = {};
  platform::Overlapped readOverlapped;

  // ---- Caller buffers ---------------------------------------------------------
  // Pointers set by the open path before the link runs; the bytes behind
  // them belong to the application. The I/O thread reads outputUniverse
  // and writes inputUniverse; the application does the opposite, and DMX
  // channels are independent bytes, so no ordering is promised beyond that.
  uint8_t* inputUniverse = nullptr;
  uint8_t* outputUniverse = nullptr;

  // ---- Frame queue: one producer at a time, one consumer (I/O thread) -------
  // Producers (SendDmxUniverse on any application thread, the open path)
  // push under producerLock, so to the consumer there is only ever one.
  // queueWrite is stored only by the lock's holder, queueRead only by the
  // consumer; each is stored with release after its slot copy and loaded
  // with acquire by the other side. The consumer never takes the lock.
  platform::RecursiveLock producerLock;
  std::atomic<uint8_t> queueWrite{0};
  std::atomic<uint8_t> queueRead{0};
  uint8_t queueSlots[kQueueSlots][kUniverseBytes] = {};
  // I/O thread only once the link runs. frameCursor is the next block of
  // sendFrame to send; one past the last block means no frame is being sent.
  static constexpr int32_t kNoFrame = kBlockCount;
  int32_t frameCursor = kNoFrame;
  uint8_t sendFrame[kUniverseBytes] = {};
  // Fixed when the link is opened; read-only afterwards.
  int32_t queueMode = 1;

  // ---- Configuration requests ---------------------------------------------
  // The flags are set by application threads and cleared by the I/O thread
  // (release/acquire). advTxPayload is built and copied under commandLock,
  // so the I/O thread never sends a half-written payload and a new request
  // cannot be lost while the previous one is taken up.
  platform::RecursiveLock commandLock;
  std::atomic<uint8_t> advTxPending{0};
  uint8_t advTxPayload[kPayloadBytes] = {};
  std::atomic<uint8_t> storePending{0};
  // modeRequested: application threads write, I/O thread reads.
  // modeActive: I/O thread writes, SetInterfaceMode polls it.
  std::atomic<uint8_t> modeRequested{0};
  std::atomic<uint8_t> modeActive{0};

  // ---- Configuration cache ------------------------------------------------
  // Written by SetInterfaceAdvTxConfig (application thread) and by a
  // readback (I/O thread), read by GetInterfaceConfig; all seven values are
  // written and read together under configLock.
  platform::RecursiveLock configLock;
  uint8_t cfgByte = 0;
  uint16_t cfgParam1 = 0;
  uint16_t cfgParam2 = 0;
  uint16_t cfgParam3 = 0;
  uint16_t cfgParam4 = 0;
  uint16_t cfgLength = 0;
  uint16_t cfgLastByte = 0;

  // ---- Lifetime of the record -------------------------------------------------
  // Exports that hold this record outside the registry walk (a waiting
  // SetInterfaceMode, a SendDmxUniverse copying a frame) pin it; CloseLink
  // frees the record only once no pin is left.
  std::atomic<int32_t> pins{0};
};

// Output modes: DMX blocks are sent only while modeActive is one of these.
inline bool IsOutputMode(uint8_t mode) { return mode == 2 || mode == 3 || mode == 6 || mode == 7; }

}  // namespace ombrix

#endif  // OMBRIX_REGISTRY_LINK_H
