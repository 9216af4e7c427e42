#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "launcher/game_watch.h"

namespace {
class ChildGame : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(shutdown_.Create());
    pid_ = fork();
    if (pid_ == 0) {
      pause();
      _exit(0);
    }
  }
  void TearDown() override {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    shutdown_.Close();
  }
  pid_t pid_ = -1;
  AutoResetEvent shutdown_;
};

TEST_F(ChildGame, GameEndingEndsTheWait) {
  GameWatch watch;
  uint32_t error = 0;
  ASSERT_TRUE(watch.Open(static_cast<uint32_t>(pid_), error));
  std::thread ender([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    kill(pid_, SIGKILL);
  });
  int result = 0;
  EXPECT_EQ(watch.Wait(shutdown_, result, error), WatchOutcome::GameEnded);
  ender.join();
}

TEST_F(ChildGame, BothSignalledTheGameCounts) {
  GameWatch watch;
  uint32_t error = 0;
  ASSERT_TRUE(watch.Open(static_cast<uint32_t>(pid_), error));
  kill(pid_, SIGKILL);
  siginfo_t info;
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT), 0);  // ended, not reaped
  shutdown_.Set();
  int result = 0;
  EXPECT_EQ(watch.Wait(shutdown_, result, error), WatchOutcome::GameEnded);
  EXPECT_EQ(shutdown_.Wait(0), WaitResult::Signaled);  // still pending for whoever waits next
}
// After the link ended, the supervision gives the game a moment to be gone too.
TEST_F(ChildGame, EndsWithinTellsAGameThatGoesFromOneThatStays) {
  GameWatch watch;
  uint32_t error = 0;
  ASSERT_TRUE(watch.Open(static_cast<uint32_t>(pid_), error));
  EXPECT_FALSE(watch.EndsWithin(50));
  kill(pid_, SIGKILL);
  EXPECT_TRUE(watch.EndsWithin(60000));
}
}  // namespace
