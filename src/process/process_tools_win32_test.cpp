#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "process/process_tools.h"

namespace {
// The test program's standard error may be in text mode.
std::string WithoutCarriageReturns(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

WideString OwnExecutableName() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  WideString full(reinterpret_cast<const char16_t*>(path), n);
  return full.substr(full.rfind(u'\\') + 1);
}

TEST(IsProcessesRunning, FindsThisProcessWhateverTheCase) {
  WideString name = OwnExecutableName();
  uint32_t id = 0;
  ASSERT_TRUE(IsProcessesRunning(name, id));
  EXPECT_EQ(id, GetCurrentProcessId());
  for (char16_t& c : name) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  id = 0;
  EXPECT_TRUE(IsProcessesRunning(name, id));
  EXPECT_EQ(id, GetCurrentProcessId());
}

TEST(IsProcessesRunning, NoMatchLeavesTheIdAndSaysSo) {
  uint32_t id = 12345;
  testing::internal::CaptureStderr();
  const bool found = IsProcessesRunning(OwnExecutableName() + u"x", id);
  const std::string log = WithoutCarriageReturns(testing::internal::GetCapturedStderr());
  EXPECT_FALSE(found);
  EXPECT_EQ(id, 12345u);
  EXPECT_EQ(log,
            "IsProcessesRunning: Process32Next failed\n"
            "IsProcessesRunning: Found no match, game is not running\n");
}

TEST(KillChildProcess, NothingToKill) {
  struct {
    uint32_t pid;
    const char* log;
  } cases[] = {
      {0, "KillChildProcess: Unable to kill child, PID is 0\n"},
      {0x7ffffff0, "KillChildProcess: Unable to open child process, OpenProcess failed with 00000057\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(KillChildProcess(c.pid));
    EXPECT_EQ(WithoutCarriageReturns(testing::internal::GetCapturedStderr()), c.log);
  }
}
}  // namespace
