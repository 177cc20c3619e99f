// The device clock of the simulated interfaces: one thread that completes
// writes whose delay has passed and sends streamed input blocks on time.
// Started with the first timed work, it then lives as long as the process,
// waiting on its wake event while nothing is due.
#include "ombrix_usb_sim.h"
#include "platform/sim/sim_model.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace ombrix::sim {
namespace {

// Guarded by SimLock().
platform::Thread g_clockThread = nullptr;
platform::Event g_clockWake = nullptr;
// When the clock will look at its work next by itself (UINT64_MAX: not
// before it is woken). Work due no earlier needs no wake-up: with many
// framed devices every write of a frame is due at the same tick, and one
// wake-up per write would cost the host a thread switch for each.
uint64_t g_plannedMicros = 0;

// A stream that fell this far behind (a stalled host) restarts from now
// instead of sending a burst.
constexpr uint64_t kStreamCatchUpLimit = 64;

void SendStreamBlock(SimDevice* device) {
  uint8_t report[kInputReportBytes] = {};
  report[1] = static_cast<uint8_t>(device->streamBlock);
  for (uint32_t i = 0; i < 32; ++i) {
    report[2 + i] = static_cast<uint8_t>(device->streamUniverse * 7u + device->streamBlock * 32u + i);
  }
  DeliverInput(device, report, kInputReportBytes);
  if (++device->streamBlock == 16) {
    device->streamBlock = 0;
    ++device->streamUniverse;
  }
}

// Returns the shortest frame period of the framed devices that completed a
// write (0: none did). Their frame clocks keep ticking for one more frame:
// a host that answers a completion with its next write within the frame
// then finds the clock already set for the tick that completes it, as a
// USB host controller's frames run whether or not anyone waits, instead of
// having to wake the clock once more (a thread switch, late under load).
uint64_t RunDueWork(uint64_t now) {
  uint64_t framePeriod = 0;
  for (SimDevice* device : State().devices) {
    for (size_t i = 0; i < device->pending.size();) {
      const Transfer& transfer = device->pending[i];
      if (transfer.isWrite && transfer.dueMicros != 0 && transfer.dueMicros <= now) {
        Transfer done = transfer;
        device->pending.erase(device->pending.begin() + static_cast<std::ptrdiff_t>(i));
        FinishTransfer(done, true, done.length);
        if (device->writeBehaviour == OMBRIX_SIM_WRITE_FRAMED && device->writeDelayMicros != 0 &&
            (framePeriod == 0 || device->writeDelayMicros < framePeriod)) {
          framePeriod = device->writeDelayMicros;
        }
      } else {
        ++i;
      }
    }
    if (device->streamIntervalMicros != 0 && device->present) {
      uint64_t interval = device->streamIntervalMicros;
      if (device->nextStreamMicros + interval * kStreamCatchUpLimit < now) device->nextStreamMicros = now;
      while (device->nextStreamMicros <= now) {
        SendStreamBlock(device);
        device->nextStreamMicros += interval;
      }
    }
  }
  return framePeriod;
}

// The earliest work due; a frame period (non-zero) adds the next tick.
bool NextDue(uint64_t now, uint64_t framePeriod, uint64_t* next) {
  bool any = false;
  auto consider = [&](uint64_t due) {
    if (!any || due < *next) *next = due;
    any = true;
  };
  if (framePeriod != 0) consider((now / framePeriod + 1) * framePeriod);
  for (SimDevice* device : State().devices) {
    for (const Transfer& transfer : device->pending) {
      if (transfer.isWrite && transfer.dueMicros != 0) consider(transfer.dueMicros);
    }
    if (device->streamIntervalMicros != 0 && device->present) consider(device->nextStreamMicros);
  }
  return any;
}

void ClockMain(void*) {
#if defined(__linux__)
  // A device that takes one report per 1000 us must complete on time: the
  // default 50 us of timer slack alone would cost a link 5 % of its rate.
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
#endif
  platform::RecursiveLock& lock = SimLock();
  lock.Enter();
  for (;;) {
    uint64_t now = NowMicros();
    uint64_t framePeriod = RunDueWork(now);
    uint64_t next = 0;
    bool due = NextDue(now, framePeriod, &next);
    platform::EventReset(g_clockWake);
    g_plannedMicros = due ? next : UINT64_MAX;
    lock.Leave();
    now = NowMicros();
    if (!due) {
      platform::EventWait(g_clockWake, platform::kInfinite);
    } else if (next > now) {
      platform::EventWaitMicros(g_clockWake, next - now);
    }
    lock.Enter();
  }
}

}  // namespace

void WakeClock() {
  if (g_clockThread == nullptr) {
    g_clockWake = platform::EventCreate();
    g_clockThread = platform::ThreadStart(ClockMain, nullptr, nullptr);
    return;
  }
  g_plannedMicros = 0;
  platform::EventSet(g_clockWake);
}

void WakeClockFor(uint64_t dueMicros) {
  if (g_clockThread != nullptr && dueMicros >= g_plannedMicros) return;
  WakeClock();
}

}  // namespace ombrix::sim
