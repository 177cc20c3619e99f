#include "input_stream.h"

namespace ombrix_bridge {

bool InputStream::Poll(TimePoint now, std::array<uint8_t, 512>* levels, TimePoint* next) {
  if (!port_->connected()) return false;
  TimePoint keepAlive = lastSent_ + kKeepAliveInterval;
  if (changed_) {
    TimePoint allowed = lastSent_ + kMinSendInterval;
    if (started_ && now < allowed) {
      if (allowed < *next) *next = allowed;
      return false;
    }
    changed_ = false;
    port_->ReadInput(levels->data());
    // Block callbacks come for every block stored, changed or not.
    if (!started_ || *levels != sent_ || now >= keepAlive) {
      sent_ = *levels;
      lastSent_ = now;
      started_ = true;
      ++packets;
      return true;
    }
    keepAlive = lastSent_ + kKeepAliveInterval;
  } else if (started_ && now >= keepAlive) {
    *levels = sent_;
    lastSent_ = now;
    ++packets;
    return true;
  }
  if (keepAlive < *next) *next = keepAlive;
  return false;
}

}  // namespace ombrix_bridge
