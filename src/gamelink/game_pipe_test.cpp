#include "gamelink/pipe_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/sync.h"
#include "gamelink/command_handler.h"
#include "gamelink/frame_bytes.h"
#include "gamelink/gantry_command.h"
#include "gamelink/test_pipe_server.h"

namespace {

class CountingCommand : public kiln::GantryCommand {
 public:
  explicit CountingCommand(std::vector<std::string>* names) : names(names) {}
  void execute(const std::string& name, const std::string&) override { names->push_back(name); }

 private:
  std::vector<std::string>* names;
};

std::string UniqueName() {
  static int count = 0;
  return "tovel_channel_test_" + std::to_string(CurrentProcessId()) + "_" + std::to_string(++count);
}

class PipeChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Create(UniqueName()));
    channel = std::make_unique<PipeChannel>(server.PipePath(), &handler);
    ASSERT_TRUE(channel->open()) << "open failed with " << channel->errorCode();
    ASSERT_TRUE(server.Accept());
  }

  // Pumps every 10 ms until `count` frames have arrived, the pump fails or 5 s pass.
  // Returns how many frames each pump brought.
  std::vector<size_t> PumpUntilFrames(size_t count) {
    std::vector<size_t> perPump;
    for (int i = 0; i < 500 && names.size() < count; ++i) {
      const size_t before = names.size();
      if (!channel->pump()) break;
      if (names.size() != before) perPump.push_back(names.size() - before);
      SleepMs(10);
    }
    return perPump;
  }

  // Pumps until a pump fails (or 5 s pass); gives the channel's code.
  uint32_t PumpUntilFailure() {
    for (int i = 0; i < 500; ++i) {
      if (!channel->pump()) return channel->errorCode();
      SleepMs(10);
    }
    return 0;
  }

  std::vector<std::string> names;
  kiln::CommandHandler handler{new CountingCommand(&names)};
  TestPipeServer server;
  std::unique_ptr<PipeChannel> channel;
};

TEST_F(PipeChannelTest, FramesSplitAcrossReadsAndSeveralInOneRead) {
  const std::string first = FrameBytes("LobbyJoined", "alice 3");
  ASSERT_TRUE(channel->pump());  // a read is now outstanding
  ASSERT_TRUE(server.Write(first.substr(0, 6)));
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(channel->pump());
    SleepMs(10);
  }
  EXPECT_TRUE(names.empty()) << "half a frame was dispatched";

  // The rest of the first frame and two more, in one write: one read brings all three.
  ASSERT_TRUE(server.Write(first.substr(6) + FrameBytes("MatchStarted", "") + FrameBytes("ScoreChanged", "1 0")));
  EXPECT_EQ(PumpUntilFrames(3), std::vector<size_t>{3});
  EXPECT_EQ(names, (std::vector<std::string>{"LobbyJoined", "MatchStarted", "ScoreChanged"}));
  EXPECT_EQ(channel->errorCode(), 0u);
}

TEST_F(PipeChannelTest, GameClosingItsEndIsABrokenPipeAfterItsLastFrames) {
  ASSERT_TRUE(channel->pump());
  ASSERT_TRUE(server.Write(FrameBytes("MatchEnded", "win")));
  EXPECT_EQ(PumpUntilFrames(1), std::vector<size_t>{1});
  server.CloseClient();
  EXPECT_EQ(PumpUntilFailure(), kPipeBrokenPipe);
  EXPECT_EQ(names, std::vector<std::string>{"MatchEnded"});
}

TEST_F(PipeChannelTest, RefusedBytesEndTheLinkWithInvalidData) {
  ASSERT_TRUE(server.Write(FrameBytes("Good", "1") + std::string("XE\x0A\x00\x03" "Bad\x00\x00", 10)));
  EXPECT_EQ(PumpUntilFailure(), kPipeInvalidData);
  EXPECT_EQ(names, std::vector<std::string>{"Good"});
  // The failure stays reported until the owner destroys the channel.
  EXPECT_EQ(channel->errorCode(), kPipeInvalidData);
}

TEST_F(PipeChannelTest, QueuedBytesReachTheGame) {
  const std::string bytes = FrameBytes("Hello", "from the helper");
  channel->queueOutgoing(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  std::string got;
  for (int i = 0; i < 100 && got.size() < bytes.size(); ++i) {
    ASSERT_TRUE(channel->pump()) << channel->errorCode();
    got += server.Read(10);
  }
  EXPECT_EQ(got, bytes);
}

TEST_F(PipeChannelTest, DestroyedWithAReadInFlightReleasesThePipe) {
  ASSERT_TRUE(channel->pump());  // leaves a read outstanding
  channel.reset();
  // The game's end now finds nobody: the bytes have nowhere to go.
  bool written = true;
  for (int i = 0; i < 50 && written; ++i) {
    written = server.Write(std::string(64, 'x'));
    SleepMs(10);
  }
  EXPECT_FALSE(written);
}

// The game link waits on the channel between pumps: whatever ends the wait must end it
// long before its time-out, which here is far beyond any test's patience.
TEST(PipeChannelWait, EndsAtOnceWhenAReadCompletesTheGameGoesOrTheWakeIsSet) {
  enum class Cause { FrameArrives, FrameAlreadyThere, GameCloses, Wake };
  for (Cause cause : {Cause::FrameArrives, Cause::FrameAlreadyThere, Cause::GameCloses, Cause::Wake}) {
    SCOPED_TRACE(static_cast<int>(cause));
    std::vector<std::string> names;
    kiln::CommandHandler handler(new CountingCommand(&names));
    TestPipeServer server;
    ASSERT_TRUE(server.Create(UniqueName()));
    PipeChannel channel(server.PipePath(), &handler);
    ASSERT_TRUE(channel.open());
    ASSERT_TRUE(server.Accept());
    AutoResetEvent wake;
    ASSERT_TRUE(wake.Create());
    ASSERT_TRUE(channel.pump());  // a read is outstanding
    if (cause == Cause::FrameAlreadyThere) {
      ASSERT_TRUE(server.Write(FrameBytes("Early", "")));
      SleepMs(50);
    }

    struct Act {
      Cause cause;
      TestPipeServer* server;
      AutoResetEvent* wake;
    } act{cause, &server, &wake};
    Thread actor;
    ASSERT_TRUE(actor.Start(
        [](void* arg) -> uint32_t {
          auto& a = *static_cast<Act*>(arg);
          SleepMs(100);
          if (a.cause == Cause::FrameArrives) a.server->Write(FrameBytes("Late", ""));
          if (a.cause == Cause::GameCloses) a.server->CloseClient();
          if (a.cause == Cause::Wake) a.wake->Set();
          return 0;
        },
        &act));
    const auto start = std::chrono::steady_clock::now();
    channel.wait(wake, 60000);
    const auto waited = std::chrono::steady_clock::now() - start;
    actor.Join();
    EXPECT_LT(waited, std::chrono::seconds(20));

    // What woke the wait is there for the next pump.
    const bool pumped = channel.pump();
    switch (cause) {
      case Cause::FrameArrives:
      case Cause::FrameAlreadyThere:
        EXPECT_TRUE(pumped);
        EXPECT_EQ(names.size(), 1u);
        break;
      case Cause::GameCloses:
        EXPECT_FALSE(pumped);
        EXPECT_EQ(channel.errorCode(), kPipeBrokenPipe);
        break;
      case Cause::Wake:
        EXPECT_TRUE(pumped);
        EXPECT_TRUE(names.empty());
        EXPECT_EQ(wake.Wait(0), WaitResult::TimedOut) << "the wait left the wake-up set";
        break;
    }
    wake.Close();
  }
}

TEST(PipeChannel, PumpOnAChannelWhoseOpenFailedIsNotActive) {
  TestPipeServer noServer;  // chooses the socket folder on Linux, creates nothing
  std::vector<std::string> names;
  kiln::CommandHandler handler(new CountingCommand(&names));
  PipeChannel channel("\\\\.\\pipe\\" + UniqueName() + "_absent", &handler);
  EXPECT_FALSE(channel.open());
  EXPECT_EQ(channel.errorCode(), 2u);  // ERROR_FILE_NOT_FOUND, ENOENT
  EXPECT_FALSE(channel.pump());
  EXPECT_EQ(channel.errorCode(), kPipeNotOpen);
}

}  // namespace
