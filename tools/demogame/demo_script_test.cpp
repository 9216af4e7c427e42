#include "demo_script.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Kind = ScriptStep::Kind;

struct LineCase {
  const char* line;
  bool valid;
  Kind kind;
  std::string name, payload, bytes;
  uint32_t number;
};

const LineCase kLines[] = {
    {"frame ScoreChanged 1  0 ", true, Kind::Frame, "ScoreChanged", "1  0 ", "", 0},
    {"frame Lonely", true, Kind::Frame, "Lonely", "", "", 0},
    {"frame \"\" payload", true, Kind::Frame, "", "payload", "", 0},
    {"frame N\\x00me a\\\\b\\x20", true, Kind::Frame, std::string("N\0me", 4), "a\\b ", "", 0},
    {"flood 20 Tick blue", true, Kind::Flood, "Tick", "blue", "", 20},
    {"raw 4B45 07 00\t00 0000", true, Kind::Raw, "", "", std::string("KE\x07\0\0\0\0", 7), 0},
    {"sleep 250", true, Kind::Sleep, "", "", "", 250},
    {"  wait-client", true, Kind::WaitClient, "", "", "", 0},
    {"close", true, Kind::Close, "", "", "", 0},
    {"exit", true, Kind::Exit, "", "", "", 0},
    {"loop", true, Kind::Loop, "", "", "", 0},
    {"frame", false, Kind::Frame, "", "", "", 0},
    {"frame Bad\\q", false, Kind::Frame, "", "", "", 0},
    {"frame Cut\\x4", false, Kind::Frame, "", "", "", 0},
    {"raw 4B4", false, Kind::Raw, "", "", "", 0},
    {"raw 4G", false, Kind::Raw, "", "", "", 0},
    {"sleep soon", false, Kind::Sleep, "", "", "", 0},
    {"flood many Tick", false, Kind::Flood, "", "", "", 0},
    {"close now", false, Kind::Close, "", "", "", 0},
    {"Frame A", false, Kind::Frame, "", "", "", 0},
};

class ScriptLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ScriptLine, ParsesOrIsReported) {
  const LineCase& c = GetParam();
  const DemoScript script = ParseDemoScript(std::string(c.line) + "\r\n");
  if (!c.valid) {
    ASSERT_EQ(script.errors.size(), 1u);
    EXPECT_TRUE(script.steps.empty());
    EXPECT_EQ(script.errors[0].line, 1);
    return;
  }
  ASSERT_TRUE(script.errors.empty()) << script.errors[0].text;
  ASSERT_EQ(script.steps.size(), 1u);
  const ScriptStep& s = script.steps[0];
  EXPECT_EQ(s.kind, c.kind);
  EXPECT_EQ(s.name, c.name);
  EXPECT_EQ(s.payload, c.payload);
  EXPECT_EQ(s.bytes, c.bytes);
  EXPECT_EQ(s.number, c.number);
}

INSTANTIATE_TEST_SUITE_P(Lines, ScriptLine, ::testing::ValuesIn(kLines));

TEST(DemoScript, CommentsAndBlankLinesAreSkippedAndLinesKeepTheirNumbers) {
  const DemoScript script = ParseDemoScript("# match\n\n   \nframe A 1\nbogus\n  # indented comment\nsleep 5");
  ASSERT_EQ(script.steps.size(), 2u);
  EXPECT_EQ(script.steps[0].line, 4);
  EXPECT_EQ(script.steps[1].line, 7);
  ASSERT_EQ(script.errors.size(), 1u);
  EXPECT_EQ(script.errors[0].line, 5);
  EXPECT_EQ(script.errors[0].text, "bogus");
}

TEST(DemoScript, BuiltInScriptIsValid) {
  const DemoScript script = ParseDemoScript(kBuiltInDemoScript);
  EXPECT_TRUE(script.errors.empty());
  EXPECT_EQ(script.steps.back().kind, Kind::Loop);
}

TEST(DemoScript, FrameBytesAreLittleEndianLengths) {
  EXPECT_EQ(EncodeFrame("Hi", std::string(300, 'p')), std::string("KE\x35\x01\x02Hi\x2C\x01", 9) + std::string(300, 'p'));
}

}  // namespace
