#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "launcher/instance_guard.h"

namespace {
class GuardFolder : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/tovel-guard-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    const char* old = getenv("XDG_RUNTIME_DIR");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) {
      setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    unlink(LockFile().c_str());
    rmdir(dir_.c_str());
  }
  std::string LockFile() const { return dir_ + "/{741BDB7C-B3FC-4B7D-AB3D-3EF5CF1032CC}.lock"; }

  std::string dir_, old_;
  bool hadOld_ = false;
};

TEST_F(GuardFolder, OwnedUntilClosedThenFreeForTheNext) {
  InstanceGuard first;
  uint32_t error = 0;
  ASSERT_EQ(first.Acquire(error), GuardResult::Owned);
  struct stat st;
  EXPECT_EQ(stat(LockFile().c_str(), &st), 0);
  first.Close();
  InstanceGuard second;
  EXPECT_EQ(second.Acquire(error), GuardResult::Owned);
  second.Close();
}

// The active instance ends while a second one waits: the second must not take over
// (it would launch a second game), as a waiter on the abandoned Windows mutex fails.
TEST_F(GuardFolder, LetGoDuringTheWaitIsNotOwned) {
  InstanceGuard first;
  uint32_t error = 0;
  ASSERT_EQ(first.Acquire(error), GuardResult::Owned);
  std::thread ending([&first] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    first.Close();
  });
  InstanceGuard second;
  error = 0;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(second.Acquire(error), GuardResult::NotOwned);
  ending.join();
  EXPECT_EQ(error, static_cast<uint32_t>(EWOULDBLOCK));
  // It failed once the lock came free, not at the end of the five seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
  second.Close();
}

TEST_F(GuardFolder, MissingFolderCannotBeOpened) {
  setenv("XDG_RUNTIME_DIR", (dir_ + "/missing").c_str(), 1);
  InstanceGuard guard;
  uint32_t error = 0;
  EXPECT_EQ(guard.Acquire(error), GuardResult::OpenFailed);
  EXPECT_EQ(error, static_cast<uint32_t>(ENOENT));
}
}  // namespace
