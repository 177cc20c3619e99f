// The Windows stop path: every console control event ends the tool the way
// Ctrl-C does, and closing the console leaves the process time to finish
// its clean stop instead of letting the system end it at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "client/console.h"
#include "client/console_win32.h"
#include "client/session.h"

namespace {

// Outlive the test: the close handler's thread keeps running after it.
std::atomic<int> g_relayed{0};
std::atomic<bool> g_closeReturned{false};

bool WaitFor(int count) {
  for (int waited = 0; waited < 5000 && g_relayed.load() < count; waited += 10) Sleep(10);
  return g_relayed.load() >= count;
}

TEST(ConsoleControlTest, BreakAndCloseStopLikeCtrlCAndCloseWaitsForTheCleanStop) {
  ombrix_tool::StopRelay relay([] { ++g_relayed; });
  EXPECT_FALSE(ombrix_tool::StopRequested());

  EXPECT_TRUE(ombrix_tool::OnConsoleControl(CTRL_BREAK_EVENT));
  EXPECT_TRUE(ombrix_tool::StopRequested());
  EXPECT_EQ(g_relayed.load(), 1);

  std::thread close([] {
    ombrix_tool::OnConsoleControl(CTRL_CLOSE_EVENT);
    g_closeReturned = true;
  });
  ASSERT_TRUE(WaitFor(2));
  Sleep(500);
  EXPECT_FALSE(g_closeReturned.load()) << "the system would have ended the process before its clean stop";
  close.detach();
}

TEST(ConsoleControlTest, NoActionIsCalledOnceItsRelayIsGone) {
  int before = g_relayed.load();
  {
    ombrix_tool::StopRelay relay([] { ++g_relayed; });
  }
  EXPECT_TRUE(ombrix_tool::OnConsoleControl(CTRL_C_EVENT));
  EXPECT_EQ(g_relayed.load(), before);
}

}  // namespace
