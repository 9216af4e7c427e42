#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "process/process_tools.h"

namespace {
// Runs copies of sleep under a name of this test's own, as children to be killed.
class ProbeProcesses : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/tovel-probe-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    // Longer than the 15 bytes that the kernel keeps as its short command name.
    name_ = "TovelProbeProcess" + std::to_string(getpid()) + ".exe";
    path_ = dir_ + "/" + name_;
    std::ifstream in("/bin/sleep", std::ios::binary);
    std::ofstream out(path_, std::ios::binary);
    out << in.rdbuf();
    out.close();
    ASSERT_EQ(chmod(path_.c_str(), 0755), 0);
  }

  void TearDown() override {
    for (pid_t pid : children_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }

  pid_t Start() {
    const pid_t pid = fork();
    if (pid == 0) {
      execl(path_.c_str(), name_.c_str(), "60", static_cast<char*>(nullptr));
      _exit(127);
    }
    children_.push_back(pid);
    // Running once its image is the copy, not this test's.
    for (int i = 0; i < 200; ++i) {
      char target[4096];
      const ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target - 1);
      if (n > 0 && std::string(target, static_cast<size_t>(n)).find(name_) != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pid;
  }

  static char State(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    const size_t close = stat.rfind(')');
    return close == std::string::npos ? '?' : stat[close + 2];
  }

  WideString Name() const { return Utf8ToWide(name_); }

  std::string dir_, name_, path_;
  std::vector<pid_t> children_;
};

TEST_F(ProbeProcesses, FoundByWholeNameWithoutAsciiCase) {
  const pid_t pid = Start();
  struct {
    std::string name;
    bool found;
  } cases[] = {
      {name_, true},
      {"tovelprobeprocess" + std::to_string(getpid()) + ".EXE", true},
      {name_.substr(0, name_.size() - 1), false},  // a prefix of the running name
      {name_ + "x", false},
      {"x" + name_, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t id = 7;
    EXPECT_EQ(IsProcessesRunning(Utf8ToWide(c.name), id), c.found);
    EXPECT_EQ(id, c.found ? static_cast<uint32_t>(pid) : 7u);
  }
}

TEST_F(ProbeProcesses, NoMatchPrintsBothLines) {
  testing::internal::CaptureStderr();
  uint32_t id = 0;
  EXPECT_FALSE(IsProcessesRunning(Name(), id));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "IsProcessesRunning: Process32Next failed\n"
            "IsProcessesRunning: Found no match, game is not running\n");
}

TEST_F(ProbeProcesses, FirstInAscendingIdOrder) {
  const pid_t a = Start();
  const pid_t b = Start();
  uint32_t id = 0;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(IsProcessesRunning(Name(), id));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "IsProcessesRunning: Found match, game is running\n");
  EXPECT_EQ(id, static_cast<uint32_t>(std::min(a, b)));
}

TEST_F(ProbeProcesses, ExitedButNotReapedIsNotListed) {
  const pid_t pid = Start();
  kill(pid, SIGKILL);
  for (int i = 0; i < 500 && State(pid) != 'Z'; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(State(pid), 'Z');
  uint32_t id = 0;
  EXPECT_FALSE(IsProcessesRunning(Name(), id));
}

TEST_F(ProbeProcesses, ExecutableDeletedWhileRunningStillCounts) {
  const pid_t pid = Start();
  ASSERT_EQ(unlink(path_.c_str()), 0);
  uint32_t id = 0;
  EXPECT_TRUE(IsProcessesRunning(Name(), id));
  EXPECT_EQ(id, static_cast<uint32_t>(pid));
}

TEST_F(ProbeProcesses, KillEndsTheGameProcess) {
  const pid_t pid = Start();
  EXPECT_TRUE(KillChildProcess(static_cast<uint32_t>(pid)));
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

// A termination the system refuses is a failure, not a success: the page is told
// the game could not be ended. Refused here because the caller is not the owner.
TEST_F(ProbeProcesses, RefusedTerminationIsAFailure) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a user to switch to";
  const pid_t pid = Start();
  int log[2];
  ASSERT_EQ(pipe(log), 0);
  const pid_t stranger = fork();
  if (stranger == 0) {
    dup2(log[1], 2);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(KillChildProcess(static_cast<uint32_t>(pid)) ? 1 : 0);
  }
  close(log[1]);
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = read(log[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(log[0]);
  int status = 0;
  ASSERT_EQ(waitpid(stranger, &status, 0), stranger);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported as killed, 2: could not switch user";
  EXPECT_EQ(text, "KillChildProcess: Unable to terminate child process, TerminateProcess failed with 00000001\n");
  EXPECT_NE(State(pid), 'Z');  // still running
}

// A game of another user: its exe link cannot be read, and its short command name is
// cut, yet it is found by its whole name.
TEST_F(ProbeProcesses, FoundByWholeNameWhenItsExecutableCannotBeRead) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a user to switch to";
  const pid_t pid = Start();
  const pid_t stranger = fork();
  if (stranger == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    char target[16];
    if (readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target) >= 0) _exit(3);
    uint32_t id = 0;
    if (!IsProcessesRunning(Name(), id)) _exit(1);
    _exit(id == static_cast<uint32_t>(pid) ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(stranger, &status, 0), stranger);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not found, 2: could not switch user, 3: exe readable, 4: another id";
}

TEST(KillChildProcess, NothingToKill) {
  struct {
    uint32_t pid;
    const char* log;
  } cases[] = {
      {0, "KillChildProcess: Unable to kill child, PID is 0\n"},
      // beyond any pid the kernel hands out: no such process (ESRCH)
      {0x7ffffff0, "KillChildProcess: Unable to open child process, OpenProcess failed with 00000003\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(KillChildProcess(c.pid));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.log);
  }
}
}  // namespace
