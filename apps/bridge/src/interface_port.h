// One interface as the bridge sees it: a link opened through the public
// API with a polled output buffer (when a universe is mapped to its output)
// and an input buffer (when its input is mapped to the network), the
// library's callbacks for it, and the looking-for-it state of an interface
// that is absent or has failed.
//
// Threads: the bridge thread owns the port and calls every method. The
// library's I/O thread reads the output buffer, writes the input buffer and
// marks input blocks changed; its event thread marks the port failed. Both
// callbacks only set atomics and wake the bridge thread: nothing is built
// or sent from inside the library.
#ifndef OMBRIX_BRIDGE_INTERFACE_PORT_H
#define OMBRIX_BRIDGE_INTERFACE_PORT_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "client/link_guard.h"

namespace ombrix_bridge {

using ombrix_tool::Api;
using ombrix_tool::Serial;

class InterfacePort {
 public:
  // wake is called from library threads (never while a lock of ours is
  // held) after input arrived or the interface failed; it must only post
  // work to the bridge thread.
  InterfacePort(const Api& api, const Serial& serial, int mode, bool drivesOutput, bool readsInput,
                std::function<void()> wake);
  // Closes the link (mode 0 goes out) and forgets the callbacks.
  ~InterfacePort();
  InterfacePort(const InterfacePort&) = delete;
  InterfacePort& operator=(const InterfacePort&) = delete;

  // Opens the link when the serial is attached: mode set, output levels
  // sent again (the new link sends every block), input resumed. Returns true
  // when it is connected now; on a failed attempt why says what happened.
  bool TryOpen(std::string* why);
  // Closes a link whose transfers failed. Returns true when it did, so the
  // caller logs it and starts looking for the interface.
  bool CloseIfFailed();
  void Close();
  bool connected() const { return open_; }

  // Writes the levels into the polled output buffer, changed bytes only,
  // each with a single-byte atomic store. Kept while the link is closed, so
  // a reopened interface carries on with the current look.
  void WriteOutput(const uint8_t levels[512]);
  // The input blocks (bit n: block n) stored since the last call.
  uint16_t TakeChangedInput();
  void ReadInput(uint8_t levels[512]) const;

  const Serial& serial() const { return serial_; }
  bool drivesOutput() const { return drivesOutput_; }
  bool readsInput() const { return readsInput_; }
  // For the status page: 32-slot blocks changed in the output buffer (each
  // one a DMX block report the library sends) and input blocks received.
  uint64_t blocksChanged() const { return blocksChanged_; }
  uint64_t inputBlocks() const { return inputBlocks_.load(std::memory_order_relaxed); }

  // Library callbacks; public so the callback table can reach them.
  void OnInputBlock(uint32_t block);
  void OnFailure();

 private:
  const Api& api_;
  const Serial serial_;
  const int mode_;
  const bool drivesOutput_;
  const bool readsInput_;
  const std::function<void()> wake_;
  int slot_ = -1;  // index in the callback table; bridge thread

  ombrix_tool::Universe output_;          // read by the I/O thread
  ombrix_tool::Universe input_;           // written by the I/O thread
  bool open_ = false;                     // bridge thread only
  uint64_t blocksChanged_ = 0;            // bridge thread only
  std::atomic<uint64_t> inputBlocks_{0};  // counted by the I/O thread

  // Written by the I/O thread (fetch_or), taken by the bridge thread.
  std::atomic<uint32_t> changedInput_{0};
  // Set by the event thread, cleared by the bridge thread when it closes.
  std::atomic<bool> failed_{false};
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_INTERFACE_PORT_H
