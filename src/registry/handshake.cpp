#include "registry/handshake.h"

#include "registry/registry.h"

namespace ombrix {
namespace {

void PollPause(PollSleep sleep) {
  if (sleep == PollSleep::kSystemMillisecond) {
    platform::SleepMillis(1);
  } else {
    platform::ShortSleep(0, 100000);
  }
}

void WaitForControl(Link& link, uint8_t wanted, PollSleep sleep) {
  while (link.control.load(std::memory_order_acquire) != wanted) PollPause(sleep);
}

}  // namespace

void PauseLink(Link& link, PollSleep sleep) {
  link.control.store(kControlPause, std::memory_order_release);
  WaitForControl(link, kControlPaused, sleep);
}

void PauseAllLinks(PollSleep sleep) {
  for (Link* link = Registry().head.load(std::memory_order_acquire); link != nullptr;
       link = link->next.load(std::memory_order_acquire)) {
    PauseLink(*link, sleep);
  }
}

void ResumeLink(Link& link) { link.control.store(kControlRun, std::memory_order_release); }

void ResumeAllLinks() {
  for (Link* link = Registry().head.load(std::memory_order_acquire); link != nullptr;
       link = link->next.load(std::memory_order_acquire)) {
    ResumeLink(*link);
  }
}

void RequestCloseAndWait(Link& link) {
  link.control.store(kControlClose, std::memory_order_release);
  WaitForControl(link, kControlClosed, PollSleep::kSystemMillisecond);
}

}  // namespace ombrix
