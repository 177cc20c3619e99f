#include "input_stream.h"

namespace ombrix_bridge {

bool InputStream::Poll(TimePoint now, std::array<uint8_t, 512>* levels, TimePoint* next) {
  if (!port_->connected()) return false;
  if (changed_) {
    TimePoint allowed = lastSent_ + kMinSendInterval;
    if (started_ && now < allowed) {
      if (allowed < *next) *next = allowed;
      return false;
    }
    changed_ = false;
    port_->ReadInput(levels->data());
    // Block callbacks come for every block stored, changed or not: only a
    // real change restarts the repeats.
    if (!started_ || *levels != sent_) {
      sent_ = *levels;
      lastSent_ = now;
      cadence_.Sent(now, true);
      started_ = true;
      ++packets;
      return true;
    }
  }
  if (started_ && now >= cadence_.NextRepeat()) {
    *levels = sent_;
    lastSent_ = now;
    cadence_.Sent(now, false);
    ++packets;
    return true;
  }
  if (started_ && cadence_.NextRepeat() < *next) *next = cadence_.NextRepeat();
  return false;
}

}  // namespace ombrix_bridge
