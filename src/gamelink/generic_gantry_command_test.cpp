#include "gamelink/generic_gantry_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "events/event_queues.h"
#include "events/event_registry.h"

namespace {

struct SplitCase {
  const char* what;
  std::string payload;
  std::vector<std::string> words;
};

const SplitCase kSplitCases[] = {
    {"two words, two spaces", "alpha  beta", {"alpha", "beta"}},
    {"spaces around one word", " alpha ", {"alpha"}},
    {"empty payload is one empty word", "", {""}},
    {"spaces only give no word", "   ", {}},
    {"one space gives no word", " ", {}},
    {"tab and line feed do not separate", "a\tb c\nd", {"a\tb", "c\nd"}},
    {"nine words", "1 2 3 4 5 6 7 8 9", {"1", "2", "3", "4", "5", "6", "7", "8", "9"}},
    {"NUL is not a separator", std::string("a\0b c", 5), {std::string("a\0b", 3), "c"}},
    {"no space", "word", {"word"}},
};

class WordSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(WordSplitting, OnlyTheSpaceSeparates) { EXPECT_EQ(SplitPayloadWords(GetParam().payload), GetParam().words); }

INSTANTIATE_TEST_SUITE_P(Cases, WordSplitting, ::testing::ValuesIn(kSplitCases), [](const auto& info) {
  std::string n = info.param.what;
  for (auto& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
});

class GenericCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { queues.TakeEventFromQueue("page"); }

  // Runs one frame through the command; returns the event and the lines printed.
  std::unique_ptr<QueuedEvent> Run(const std::string& name, const std::string& payload, std::string* lines) {
    GenericGantryCommand command(Widen("MARBLE-GAME"), queues);
    ::testing::internal::CaptureStderr();
    PrepareDiagnostics();
    command.execute(name, payload);
    *lines = ::testing::internal::GetCapturedStderr();
    return queues.TakeEventFromQueue("page");
  }

  static std::vector<std::string> Params(const QueuedEvent& e) {
    std::vector<std::string> out;
    for (const WideString* p : {&e.param1, &e.param2, &e.param3, &e.param4, &e.param5, &e.param6, &e.param7, &e.param8})
      out.push_back(WideToUtf8(*p));
    return out;
  }

  EventQueues queues{u"MARBLE-GAME"};
};

TEST_F(GenericCommandTest, FrameBecomesAnEventOfGameIdNameAndFirstEightWords) {
  std::string lines;
  auto event = Run("ScoreChanged", "p1 p2 p3 p4 p5 p6 p7 p8 lost", &lines);
  ASSERT_TRUE(event);
  EXPECT_EQ(WideToUtf8(event->gameId), "MARBLE-GAME");
  EXPECT_EQ(WideToUtf8(event->eventName), "ScoreChanged");
  EXPECT_EQ(Params(*event), (std::vector<std::string>{"p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8"}));
  EXPECT_EQ(lines,
            "GenericGantryCommand::execute: ScoreChanged p1 p2 p3 p4 p5 p6 p7 p8 lost\n"
            "PostEventToQueue: Posting event ScoreChanged\n");
}

TEST_F(GenericCommandTest, EmptyNameAndPayloadStillPostAnEvent) {
  std::string lines;
  auto event = Run("", "", &lines);
  ASSERT_TRUE(event);
  EXPECT_EQ(WideToUtf8(event->gameId), "MARBLE-GAME");
  EXPECT_TRUE(event->eventName.empty());
  EXPECT_EQ(Params(*event), std::vector<std::string>(8));
  EXPECT_EQ(lines, "GenericGantryCommand::execute:  \nPostEventToQueue: Posting event \n");
}

TEST_F(GenericCommandTest, TextIsUtf8AndEndsAtItsFirstNul) {
  std::string lines;
  auto event = Run(std::string("Na\0me", 5), std::string("gr\xC3\xBC\xC3\x9F \xE4\xB8\xAD\0x y \xFF", 16), &lines);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->eventName, u"Na");
  EXPECT_EQ(event->param1, u"gr\u00FC\u00DF");
  EXPECT_EQ(event->param2, u"\u4E2D");  // the word "中\0x" stops at its NUL
  EXPECT_EQ(event->param3, u"y");
  EXPECT_EQ(event->param4, u"\uFFFD");  // an invalid byte is replaced
  EXPECT_EQ(lines, "GenericGantryCommand::execute: Na gr\xC3\xBC\xC3\x9F \xE4\xB8\xAD\nPostEventToQueue: Posting event Na\n");
}

}  // namespace
