#include "gamelink/command_handler.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "gamelink/frame_bytes.h"
#include "gamelink/gantry_command.h"

namespace {

using Frames = std::vector<std::pair<std::string, std::string>>;

class RecordingCommand : public kiln::GantryCommand {
 public:
  RecordingCommand(Frames* seen, std::vector<std::string>* destroyed = nullptr, std::string label = "")
      : seen(seen), destroyed(destroyed), label(std::move(label)) {}
  ~RecordingCommand() override {
    if (destroyed) destroyed->push_back(label);
  }
  void execute(const std::string& name, const std::string& payload) override { seen->emplace_back(name, payload); }

 private:
  Frames* seen;
  std::vector<std::string>* destroyed;
  std::string label;
};

struct ReceiveCase {
  const char* what;
  std::vector<std::string> reads;  // handed to the handler one after the other
  Frames frames;                   // dispatched, in order
  std::string left;                // what stays in the buffer
  bool answer;                     // of the last call
};

std::string S(const char* bytes, size_t n) { return std::string(bytes, n); }

const std::string kGood = FrameBytes("ScoreChanged", "12 7");
const std::string kEmpty = FrameBytes("", "");

const ReceiveCase kReceiveCases[] = {
    {"one byte waits", {"K"}, {}, "K", true},
    {"four bytes wait, whatever they are", {"XYZW"}, {}, "XYZW", true},
    {"magic tested once five bytes are there", {"XYZW", "V"}, {}, "XYZWV", false},
    {"a frame split over three reads", {kGood.substr(0, 3), kGood.substr(3, 6), kGood.substr(9)}, {{"ScoreChanged", "12 7"}}, "", true},
    {"two frames and the start of a third",
     {kGood + kEmpty + kGood.substr(0, 3)},
     {{"ScoreChanged", "12 7"}, {"", ""}},
     kGood.substr(0, 3),
     true},
    {"empty name and payload", {kEmpty}, {{"", ""}}, "", true},
    {"total length beyond the bytes present waits", {FrameBytes("A", "b", 3)}, {}, FrameBytes("A", "b", 3), true},
    {"total length larger than needed consumes only name and payload",
     {FrameBytes("A", "b", 3) + kGood},
     {{"A", "b"}, {"ScoreChanged", "12 7"}},
     "",
     true},
    {"bytes after a spare total length start the next frame", {FrameBytes("A", "b", 5) + "KE" + kGood.substr(0, 3)}, {{"A", "b"}}, "KE" + kGood.substr(0, 3), true},
    {"NUL bytes travel whole", {FrameBytes(S("na\0me", 5), S("\0p\0", 3))}, {{S("na\0me", 5), S("\0p\0", 3)}}, "", true},
    {"wrong magic after a good frame", {kGood + "KX" + kGood.substr(2)}, {{"ScoreChanged", "12 7"}}, "KX" + kGood.substr(2), false},
    {"total length one short of name and payload", {FrameBytes("Name", "payload", -1) + kGood}, {}, FrameBytes("Name", "payload", -1) + kGood, false},
    {"total length shorter than the name", {FrameBytes("LongName", "", -5) + kGood}, {}, FrameBytes("LongName", "", -5) + kGood, false},
    {"total length zero", {FrameBytes("A", "b", -9)}, {}, FrameBytes("A", "b", -9), false},
    // A name length pointing far past the five bytes received must not be read.
    {"name length past the received bytes", {S("KE\x05\x00\xC8", 5)}, {}, S("KE\x05\x00\xC8", 5), false},
};

class FrameReceiving : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(FrameReceiving, CutsWholeFramesAndKeepsTheRest) {
  const ReceiveCase& c = GetParam();
  Frames seen;
  kiln::CommandHandler handler(new RecordingCommand(&seen));
  kiln::ByteVector received;
  bool answer = true;
  for (const std::string& read : c.reads) {
    received.insert(received.end(), read.begin(), read.end());
    // An exact-size copy lets the sanitizer build catch any read past the bytes.
    kiln::ByteVector exact(received);
    answer = handler.handleReceivedData(exact);
    received = exact;
  }
  EXPECT_EQ(answer, c.answer);
  EXPECT_EQ(seen, c.frames);
  EXPECT_EQ(std::string(received.begin(), received.end()), c.left);
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameReceiving, ::testing::ValuesIn(kReceiveCases), [](const auto& info) {
  std::string n = info.param.what;
  for (auto& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
});

TEST(FrameReceiving, LargestFrameArrivesWhole) {
  Frames seen;
  kiln::CommandHandler handler(new RecordingCommand(&seen));
  const std::string name(255, 'n');
  const std::string payload(65528 - 255, 'p');
  auto received = ToBytes(FrameBytes(name, payload));
  ASSERT_EQ(received.size(), 65535u);
  EXPECT_TRUE(handler.handleReceivedData(received));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, name);
  EXPECT_EQ(seen[0].second, payload);
  EXPECT_TRUE(received.empty());
}

TEST(CommandDispatch, NamedCommandFirstThenTheDefault) {
  Frames named, fallback;
  kiln::CommandHandler handler(new RecordingCommand(&fallback));
  handler.addCommand("Ping", new RecordingCommand(&named));
  EXPECT_TRUE(handler.dispatchCommand("Ping", "1"));
  EXPECT_TRUE(handler.dispatchCommand("ping", "2"));  // names compare byte for byte
  EXPECT_TRUE(handler.dispatchCommand("", "3"));
  EXPECT_EQ(named, (Frames{{"Ping", "1"}}));
  EXPECT_EQ(fallback, (Frames{{"ping", "2"}, {"", "3"}}));
}

TEST(CommandDispatch, WithoutADefaultUnknownFramesAreDroppedAndReceivingGoesOn) {
  Frames named;
  kiln::CommandHandler handler(nullptr);
  handler.addCommand("Known", new RecordingCommand(&named));
  EXPECT_FALSE(handler.dispatchCommand("Unknown", ""));
  auto received = ToBytes(FrameBytes("Unknown", "x") + FrameBytes("Known", "y"));
  EXPECT_TRUE(handler.handleReceivedData(received));
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(named, (Frames{{"Known", "y"}}));
}

TEST(CommandDispatch, HandlerDeletesNamedCommandsInKeyOrderThenTheDefault) {
  Frames seen;
  std::vector<std::string> destroyed;
  {
    kiln::CommandHandler handler(new RecordingCommand(&seen, &destroyed, "default"));
    for (const char* name : {"m", "z", "a"}) handler.addCommand(name, new RecordingCommand(&seen, &destroyed, name));
  }
  EXPECT_EQ(destroyed, (std::vector<std::string>{"a", "m", "z", "default"}));
}

TEST(GantryCommand, BasePredicatesAnswerFalse) {
  kiln::GantryCommand command;
  EXPECT_FALSE(command.expectsReply());
  EXPECT_FALSE(command.runsDetached());
}

}  // namespace
