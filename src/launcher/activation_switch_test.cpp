#include "launcher/activation_switch.h"

#include <gtest/gtest.h>

namespace {
struct SwitchCase {
  const char* name;
  const char* commandLine;
  bool active;
  const char* passedOn;  // what the game receives
};

const SwitchCase kCases[] = {
    {"absent", "-game x", false, "-game x"},
    {"empty", "", false, ""},
    {"alone", "--activate-webhelper", true, ""},
    {"between words keeps both spaces", "a --activate-webhelper b", true, "a  b"},
    {"glued inside a word", "pre--activate-webhelperpost", true, "prepost"},
    {"twice: only the first goes", "--activate-webhelper --activate-webhelper", true, " --activate-webhelper"},
    {"upper case is not the switch", "--ACTIVATE-WEBHELPER", false, "--ACTIVATE-WEBHELPER"},
    {"a shorter prefix is not the switch", "--activate-webhelpe", false, "--activate-webhelpe"},
    {"at the end", "-x --activate-webhelper", true, "-x "},
    {"inside quotes", "\"--activate-webhelper\"", true, "\"\""},
};

TEST(ActivateSwitch, FoundAndFirstOccurrenceRemoved) {
  for (const SwitchCase& c : kCases) {
    SCOPED_TRACE(c.name);
    WideString commandLine = Utf8ToWide(c.commandLine);
    EXPECT_EQ(TakeActivateSwitch(commandLine), c.active);
    EXPECT_EQ(WideToUtf8(commandLine), c.passedOn);
  }
}

TEST(ActivateSwitch, NonAsciiAroundTheSwitchSurvives) {
  WideString commandLine = u"\u00e9\u4e2d--activate-webhelper\U0001F600";
  EXPECT_TRUE(TakeActivateSwitch(commandLine));
  EXPECT_EQ(commandLine, u"\u00e9\u4e2d\U0001F600");
}
}  // namespace
