// A link held Paused for a scope, as the registration exports hold one while
// they change a callback. The I/O thread leaves it alone meanwhile: input
// injected then is taken in consecutive passes once it runs again, and
// requests made then are all waiting at once, so what the test checks
// never depends on how late the test thread gets to run.
#ifndef OMBRIX_TESTS_HELD_LINK_H
#define OMBRIX_TESTS_HELD_LINK_H

#include "platform/platform.h"
#include "registry/handshake.h"
#include "registry/library_threads.h"
#include "registry/registry.h"
#include "sim_fixture.h"

namespace ombrix_test {

class HeldLink {
 public:
  explicit HeldLink(const Serial& serial) : control_(ombrix::ControlLock()) {
    // Under the control lock no close can free the record meanwhile.
    link_ = ombrix::FindLinkBySerial(serial.data());
    if (link_ != nullptr) ombrix::PauseLink(*link_);
  }
  ~HeldLink() {
    if (link_ != nullptr) ombrix::ResumeLink(*link_);
  }
  HeldLink(const HeldLink&) = delete;
  HeldLink& operator=(const HeldLink&) = delete;
  // Null when no link has the serial.
  ombrix::Link* link() const { return link_; }

 private:
  ombrix::platform::LockGuard<ombrix::platform::RecursiveLock> control_;
  ombrix::Link* link_ = nullptr;
};

}  // namespace ombrix_test

#endif  // OMBRIX_TESTS_HELD_LINK_H
