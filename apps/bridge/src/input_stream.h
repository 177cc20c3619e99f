// An interface's input sent to one network universe. Packets go out when
// the input changes, at most at DMX rate (44 per second, so a busy line
// never floods the network), and unchanged at least once a second, so
// receivers keep the bridge as a live source.
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
constexpr std::chrono::seconds kKeepAliveInterval{1};

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
};

}  // namespace ombrix_bridge

#endif  // OMBRIX_BRIDGE_INPUT_STREAM_H
