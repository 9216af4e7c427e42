#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "launcher/game_launch.h"

namespace {
// A scratch folder as the current directory, with a second folder on PATH, in which
// small scripts stand in for the game and write down how they were started.
class LaunchFolder : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/tovel-launch-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    ASSERT_EQ(mkdir((dir_ + "/bin").c_str(), 0755), 0);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd_ = cwd;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    const char* path = getenv("PATH");
    oldPath_ = path ? path : "";
    setenv("PATH", (dir_ + "/bin:" + oldPath_).c_str(), 1);
  }

  void TearDown() override {
    setenv("PATH", oldPath_.c_str(), 1);
    EXPECT_EQ(chdir(oldCwd_.c_str()), 0);
    const std::string rm = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(rm.c_str()), 0);
  }

  void Script(const std::string& relative, const std::string& body, mode_t mode = 0755) {
    const std::string file = dir_ + "/" + relative;
    std::ofstream(file) << "#!/bin/sh\n" << body;
    ASSERT_EQ(chmod(file.c_str(), mode), 0);
  }

  // The record a script writes, once it is complete (its last line is "end").
  std::string Record(const std::string& name) {
    const std::string file = dir_ + "/" + name;
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(file);
      std::stringstream text;
      text << in.rdbuf();
      const std::string s = text.str();
      if (s.size() >= 4 && s.compare(s.size() - 4, 4, "end\n") == 0) return s;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "(no record)";
  }

  std::string dir_, oldCwd_, oldPath_;
};

TEST_F(LaunchFolder, ArgumentsAreSplitByTheWindowsRules) {
  Script("game.exe", "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > args.txt\necho end >> args.txt\n");
  uint32_t error = 0;
  ASSERT_TRUE(LaunchGame(u"game.exe", u"-x \"a b\" c\\\"d \"\" e\\\\f", error));
  EXPECT_EQ(Record("args.txt"), "[-x]\n[a b]\n[c\"d]\n[]\n[e\\\\f]\nend\n");
}

TEST_F(LaunchFolder, EmptyParameterTextGivesNoArguments) {
  Script("game.exe", "echo \"$#\" > args.txt\necho end >> args.txt\n");
  uint32_t error = 0;
  ASSERT_TRUE(LaunchGame(u"game.exe", u"", error));
  EXPECT_EQ(Record("args.txt"), "0\nend\n");
}

TEST_F(LaunchFolder, CurrentDirectoryBeforeThePath) {
  Script("game.exe", "echo cwd > who.txt\necho end >> who.txt\n");
  Script("bin/game.exe", "echo path > who.txt\necho end >> who.txt\n");
  uint32_t error = 0;
  ASSERT_TRUE(LaunchGame(u"game.exe", u"", error));
  EXPECT_EQ(Record("who.txt"), "cwd\nend\n");
}

TEST_F(LaunchFolder, FoundOnThePath) {
  Script("bin/game.exe", "echo path > who.txt\necho end >> who.txt\n");
  uint32_t error = 0;
  ASSERT_TRUE(LaunchGame(u"game.exe", u"", error));
  EXPECT_EQ(Record("who.txt"), "path\nend\n");
}

// The game is nobody's child here: the helper never has to reap it, and it runs on
// after the helper; it keeps no standard stream of the helper's.
TEST_F(LaunchFolder, DetachedFromTheHelper) {
  Script("game.exe",
         "sleep 0.3\n"
         "awk '{print $4; print $6}' /proc/$$/stat > who.txt\n"
         "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
         "echo $streams >> who.txt\n"
         "echo end >> who.txt\n");
  uint32_t error = 0;
  ASSERT_TRUE(LaunchGame(u"game.exe", u"", error));
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  std::istringstream record(Record("who.txt"));
  std::string parent, session, in, out, err;
  record >> parent >> session >> in >> out >> err;
  EXPECT_NE(parent, std::to_string(getpid()));
  EXPECT_NE(session, std::to_string(getsid(0)));
  EXPECT_EQ(in, "/dev/null");
  EXPECT_EQ(out, "/dev/null");
  EXPECT_EQ(err, "/dev/null");
}

TEST_F(LaunchFolder, FailuresReportTheSystemError) {
  Script("plain.exe", "exit 0\n", 0644);
  struct {
    const char16_t* file;
    uint32_t error;
  } cases[] = {
      {u"missing.exe", ENOENT},
      {u"plain.exe", EACCES},  // there but not runnable, and nowhere else
      {u"./missing.exe", ENOENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.file));
    uint32_t error = 0;
    EXPECT_FALSE(LaunchGame(c.file, u"", error));
    EXPECT_EQ(error, c.error);
  }
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // nothing left behind to reap
}
}  // namespace
