// An interface's input sent to one network universe. Packets go out when
// the input changes, at most at DMX rate (44 per second, so a busy line
// never floods the network). Once the input stops changing, the last data
// goes out three more times at that rate and then every 850 ms: E1.31
// (6.6.2) wants at least three packets of non-changing data before the
// rate drops and keep-alives 800-1,000 ms apart after that, which also
// meets Art-Net's "at least every 4 s" for unchanged ArtDmx.
//
// Bridge thread only.
#ifndef OMBRIX_BRIDGE_INPUT_STREAM_H
#define OMBRIX_BRIDGE_INPUT_STREAM_H

#include <array>
#include <chrono>
#include <cstdint>

#include "bridge_config.h"
#include "interface_port.h"
#include "protocols/tracking.h"

namespace ombrix_bridge {

using ombrix::protocols::TimePoint;

constexpr std::chrono::microseconds kMinSendInterval{1000000 / 44};
// Inside E1.31's 800-1,000 ms window with room for a 20 ms tick's lateness.
constexpr std::chrono::milliseconds kKeepAliveInterval{850};
constexpr int kRepeatsBeforeKeepAlive = 3;

// When unchanged data is due again: kRepeatsBeforeKeepAlive packets at the
// DMX rate after each change, then one every kKeepAliveInterval.
class RepeatCadence {
 public:
  void Sent(TimePoint now, bool changed) {
    last_ = now;
    repeatsLeft_ = changed ? kRepeatsBeforeKeepAlive : (repeatsLeft_ > 0 ? repeatsLeft_ - 1 : 0);
  }
  TimePoint NextRepeat() const {
    return last_ + (repeatsLeft_ > 0 ? std::chrono::duration_cast<std::chrono::microseconds>(kMinSendInterval)
                                     : std::chrono::duration_cast<std::chrono::microseconds>(kKeepAliveInterval));
  }

 private:
  TimePoint last_{};
  int repeatsLeft_ = 0;
};

class InputStream {
 public:
  InputStream(InterfacePort* port, const NetworkUniverse& universe) : port_(port), universe_(universe) {}

  // The port's input changed: the next Poll sends as soon as the rate allows.
  void MarkChanged() { changed_ = true; }

  // Whether a packet is due now; levels then holds what to send and the
  // caller sends it. Otherwise *next (when earlier) gets the time this
  // stream next wants attention. Nothing is sent while the interface is
  // disconnected: a receiver should see the source go, not stale levels.
  bool Poll(TimePoint now, std::array<uint8_t, 512>* levels, TimePoint* next);

  const NetworkUniverse& universe() const { return universe_; }
  // A re-patch: sent on another universe from now on.
  void Renumber(const NetworkUniverse& universe) { universe_ = universe; }
  InterfacePort* port() const { return port_; }
  bool started() const { return started_; }
  uint64_t packets = 0;  // packets sent, read by the status line

 private:
  InterfacePort* port_;
  NetworkUniverse universe_;
  bool changed_ = true;
  bool started_ = false;
  std::array<uint8_t, 512> sent_{};
  TimePoint lastSent_{};
  RepeatCadence cadence_;
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_INPUT_STREAM_H
