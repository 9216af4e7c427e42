#include "launcher/switches.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
TEST(Switches, OnlyExactlyOneIsOn) {
  struct {
    const char* value;
    bool on;
  } cases[] = {{"1", true}, {nullptr, false}, {"", false}, {"0", false}, {"1 ", false},
               {" 1", false}, {"01", false}, {"true", false}, {"11", false}, {"yes", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(missing)");
    EXPECT_EQ(SwitchValueIsOn(c.value), c.on);
  }
}

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

TEST(Switches, ReadFromTheEnvironmentEachTime) {
  const char* name = "TOVELWEBHELPER_UNIT_PROBE";
  SetVariable(name, "1");
  EXPECT_TRUE(SwitchIsOn(name));
  SetVariable(name, "1 ");
  EXPECT_FALSE(SwitchIsOn(name));
  EXPECT_FALSE(SwitchIsOn("TOVELWEBHELPER_UNIT_PROBE_NEVER_SET"));
}
}  // namespace
