#include "process/process_name.h"

#include <gtest/gtest.h>

namespace {
TEST(ProcessName, WholeNameWithoutAsciiCase) {
  struct {
    const char16_t* listed;
    bool matches;
  } cases[] = {
      {u"tovel3.exe", true},
      {u"TOVEL3.EXE", true},
      {u"Tovel3.Exe", true},
      {u"C:\\Games\\Tovel\\tovel3.exe", true},
      {u"dir\\sub\\TOVEL3.exe", true},
      {u"tovel3.exe\\", false},       // the part after the last backslash is empty
      {u"tovel3.exe.bak", false},     // begins with the name
      {u"old-tovel3.exe", false},     // ends with the name
      {u"tovel3.ex", false},
      {u"", false},
      {u"tovel3.exe ", false},
      {u"c:/games/tovel3.exe", false},  // only a backslash separates folders
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.listed));
    EXPECT_EQ(ProcessNameMatches(c.listed, u"tovel3.exe"), c.matches);
  }
}

TEST(ProcessName, CaseFoldingIsAsciiOnly) {
  EXPECT_TRUE(ProcessNameMatches(u"\u00e9t\u00e9.exe", u"\u00e9T\u00e9.EXE"));
  EXPECT_FALSE(ProcessNameMatches(u"\u00c9t\u00e9.exe", u"\u00e9t\u00e9.exe"));  // É is not é here
  EXPECT_FALSE(ProcessNameMatches(u"[game].exe", u"{GAME}.exe"));  // neighbours of the letters don't fold
}

TEST(ProcessName, EmptyWantedNameMatchesOnlyAnEmptyTail) {
  EXPECT_TRUE(ProcessNameMatches(u"dir\\", u""));
  EXPECT_FALSE(ProcessNameMatches(u"game.exe", u""));
}
}  // namespace
