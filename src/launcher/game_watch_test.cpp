#include "launcher/game_watch.h"

#include <gtest/gtest.h>

#include "common/sync.h"

namespace {
// This test's own process stands in for a game that keeps running.
TEST(GameWatch, ShutdownEventEndsTheWaitAndIsConsumed) {
  AutoResetEvent shutdown;
  ASSERT_TRUE(shutdown.Create());
  GameWatch watch;
  uint32_t error = 0;
  ASSERT_TRUE(watch.Open(CurrentProcessId(), error));
  shutdown.Set();
  int result = 0;
  EXPECT_EQ(watch.Wait(shutdown, result, error), WatchOutcome::ShutdownSignaled);
  EXPECT_EQ(shutdown.Wait(0), WaitResult::TimedOut);  // the wait took the signal
  shutdown.Close();
}

TEST(GameWatch, NoSuchProcess) {
  GameWatch watch;
  uint32_t error = 0;
  EXPECT_FALSE(watch.Open(0x7ffffff0, error));
  EXPECT_NE(error, 0u);
  GameWatch none;
  EXPECT_FALSE(none.Open(0, error));  // no game id yet
}
}  // namespace
