// The Win32 OS half against the contract in platform.h: the properties the
// engine relies on, on real kernel objects.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace ombrix_test {
namespace {

using namespace ombrix::platform;

// ---- Manual-reset events ----------------------------------------------------------

TEST(Win32Events, StartSignalledAndStaySignalledUntilReset) {
  Event event = EventCreate();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(EventWait(event, 0), WaitResult::kSignalled);
  EXPECT_EQ(EventWait(event, 0), WaitResult::kSignalled) << "a wait must not consume the state";
  EventReset(event);
  EXPECT_EQ(EventWait(event, 0), WaitResult::kTimeout);
  EXPECT_EQ(EventWaitMicros(event, 1), WaitResult::kTimeout);
  EventSet(event);
  EXPECT_EQ(EventWaitMicros(event, 0), WaitResult::kSignalled);
  EventClose(event);
}

TEST(Win32Events, WaitAnyNamesTheSignalledEventAndRejectsBadCounts) {
  Event events[3] = {EventCreate(), EventCreate(), EventCreate()};
  for (Event event : events) EventReset(event);
  EXPECT_EQ(EventWaitAny(events, 3, 0), -1);
  EventSet(events[2]);
  EXPECT_EQ(EventWaitAny(events, 3, kInfinite), 2);
  EventSet(events[1]);
  EXPECT_EQ(EventWaitAny(events, 3, 0), 1) << "the lowest signalled index wins";
  EXPECT_EQ(EventWaitAny(events, 0, 0), -2);
  EXPECT_EQ(EventWaitAny(events, kMaxWaitEvents + 1, 0), -2);
  for (Event event : events) EventClose(event);
}

TEST(Win32Events, WaitAnyAcceptsTheFullSixtyFour) {
  Event events[kMaxWaitEvents];
  for (Event& event : events) {
    event = EventCreate();
    EventReset(event);
  }
  EventSet(events[kMaxWaitEvents - 1]);
  EXPECT_EQ(EventWaitAny(events, kMaxWaitEvents, 0), static_cast<int>(kMaxWaitEvents - 1));
  for (Event event : events) EventClose(event);
}

TEST(Win32Events, AnotherThreadsSetWakesAWaiter) {
  Event event = EventCreate();
  EventReset(event);
  Thread setter = ThreadStart([](void* raw) { EventSet(static_cast<Event>(raw)); }, event, nullptr);
  ASSERT_NE(setter, nullptr);
  EXPECT_EQ(EventWait(event, kInfinite), WaitResult::kSignalled);
  ThreadJoin(setter);
  EventClose(event);
}

// ---- Lock and threads -------------------------------------------------------------------

struct LockProbe {
  RecursiveLock lock;
  std::atomic<int> entered{0};
};

TEST(Win32Lock, IsReentrantForItsHolderAndExcludesOthers) {
  LockProbe probe;
  probe.lock.Enter();
  probe.lock.Enter();  // a second Enter by the holder must not deadlock
  probe.lock.Leave();
  Thread other = ThreadStart(
      [](void* raw) {
        auto* p = static_cast<LockProbe*>(raw);
        p->lock.Enter();
        p->entered.store(1);
        p->lock.Leave();
      },
      &probe, nullptr);
  ASSERT_NE(other, nullptr);
  SleepMillis(20);
  EXPECT_EQ(probe.entered.load(), 0) << "the holder still has it once";
  probe.lock.Leave();
  ThreadJoin(other);
  EXPECT_EQ(probe.entered.load(), 1);
}

struct IdProbe {
  std::atomic<ThreadId> seen{0};
};

TEST(Win32Threads, ReportedIdIsTheThreadsOwnAndJoinWaitsForTheEnd) {
  IdProbe probe;
  ThreadId id = 0;
  Thread thread = ThreadStart(
      [](void* raw) {
        SleepMillis(10);
        static_cast<IdProbe*>(raw)->seen.store(ThreadCurrentId());
      },
      &probe, &id);
  ASSERT_NE(thread, nullptr);
  ThreadJoin(thread);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(probe.seen.load(), id);
  EXPECT_NE(ThreadCurrentId(), id);
}

// ---- Thread message queue ------------------------------------------------------------

struct Receiver {
  Event start = EventCreate();     // set by the test once the first post was tried
  Event hasQueue = EventCreate();  // set by the receiver once its queue exists
  Event posted = EventCreate();    // set by the test when everything is posted
  ThreadMessage got[3] = {};
  int results[3] = {};
};

void ReceiverMain(void* raw) {
  auto* r = static_cast<Receiver*>(raw);
  EventWait(r->start, kInfinite);
  MessageQueueCreate();
  EventSet(r->hasQueue);
  EventWait(r->posted, kInfinite);
  for (int i = 0; i < 3; ++i) r->results[i] = MessageGet(&r->got[i], 1025, 1032);
  MessageQueueDestroy();
}

TEST(Win32Messages, ArriveInOrderWithinTheRangeOnlyAfterTheQueueExists) {
  Receiver r;
  for (Event event : {r.start, r.hasQueue, r.posted}) EventReset(event);
  ThreadId id = 0;
  Thread thread = ThreadStart(ReceiverMain, &r, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(MessagePost(id, 1025, 0, 1)) << "no queue yet";
  EventSet(r.start);
  EventWait(r.hasQueue, kInfinite);

  // An address-sized lParam, high bits set on 64-bit, must come back whole.
  intptr_t address = static_cast<intptr_t>(~static_cast<uintptr_t>(0) - 0x0F);
  EXPECT_TRUE(MessagePost(id, 1040, 0, 7));  // outside the range: never taken
  EXPECT_TRUE(MessagePost(id, 1030, 0, address));
  EXPECT_TRUE(MessagePost(id, 1024, 0, 8));  // outside the range: never taken
  EXPECT_TRUE(MessagePost(id, 1025, 0, 2));
  EXPECT_TRUE(MessagePost(id, 1032, 0, 3));
  EventSet(r.posted);
  ThreadJoin(thread);

  for (int result : r.results) EXPECT_EQ(result, 1);
  EXPECT_EQ(r.got[0].message, 1030u);
  EXPECT_EQ(r.got[0].lParam, address);
  EXPECT_EQ(r.got[0].wParam, 0u);
  EXPECT_EQ(r.got[1].message, 1025u);
  EXPECT_EQ(r.got[1].lParam, 2);
  EXPECT_EQ(r.got[2].message, 1032u);
  EXPECT_FALSE(MessagePost(id, 1025, 0, 4)) << "the thread and its queue are gone";
  for (Event event : {r.start, r.hasQueue, r.posted}) EventClose(event);
}

// ---- Timer -----------------------------------------------------------------------------------

TEST(Win32Timer, CapabilitiesAreAUsableRange) {
  uint32_t minimum = 0;
  uint32_t maximum = 0;
  ASSERT_TRUE(TimerGetCaps(&minimum, &maximum));
  EXPECT_GE(minimum, 1u);
  EXPECT_LE(minimum, maximum);
  TimerBeginPeriod(minimum);
  TimerEndPeriod(minimum);
}

}  // namespace
}  // namespace ombrix_test
