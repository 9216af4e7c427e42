// The game link on an I/O thread of its own, against the demo game started as a child
// process.
#include "gamelink/game_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "common/log.h"
#include "common/sync.h"
#include "events/event_queues.h"
#include "gamelink/test_pipe_server.h"
#include "gamelink/test_process.h"

namespace {

std::string ReadText(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

void WriteText(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_TRUE(f) << path;
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

uint32_t RunService(void* io) {
  static_cast<boost::asio::io_context*>(io)->run();
  return 0;
}

class GameLinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    suiteDir = new std::string(MakeScratchDir());
    gamePath = new std::string(BuildTreePath(TOVEL_DEMO_GAME));
#ifndef _WIN32
    // The process list of Linux is the whole machine's: a name of its own keeps this
    // test from finding, or being found by, any other run's demo game.
    *gameName = "tovel3-link-" + std::to_string(CurrentProcessId()) + ".exe";
    const std::string copy = InDir(*suiteDir, *gameName);
    if (CopyExecutable(*gamePath, copy)) *gamePath = copy;
#endif
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(*suiteDir, ignored);
  }

  void SetUp() override {
    static int count = 0;
    dir = MakeScratchDir();
    pipeName = "tovel_link_test_" + std::to_string(CurrentProcessId()) + "_" + std::to_string(++count);
    SetEnv("XDG_RUNTIME_DIR", dir);  // where the Linux build looks for the game's socket
    state.gameLinkTarget.gameId = Widen("MARBLE-GAME");
    state.gameLinkTarget.pipePath = Utf8ToWide(PipePath());
    exeName = *gameName;
    state.gameLinkTarget.executableName = Utf8ToWide(exeName);
    state.gameConnectedEvent.Create();
    state.gameLinkShutdownEvent.Create();
    state.gameLinkExitedEvent.Create();
    done.Create();
    queues.TakeEventFromQueue("page");  // the page polls from the start
  }

  void TearDown() override {
    if (ioThread.Started()) StopLink();
    game.Kill();
    for (AutoResetEvent* e : {&state.gameConnectedEvent, &state.gameLinkShutdownEvent, &state.gameLinkExitedEvent, &done})
      e->Close();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  std::string PipePath() const { return "\\\\.\\pipe\\" + pipeName; }
  std::string RecordPath() const { return InDir(dir, "record.jsonl"); }

  void StartGame(const std::string& script) {
    const std::string scriptPath = InDir(dir, "script.txt");
    WriteText(scriptPath, script);
    SetEnv("TOVEL3_DEMO_SCRIPT", scriptPath);
    SetEnv("TOVEL3_DEMO_PIPE", pipeName);
    SetEnv("TOVEL3_DEMO_RECORD", RecordPath());
    SetEnv("TOVEL3_DEMO_LIFETIME_MS", "60000");  // in case the test itself dies
    ASSERT_TRUE(game.Start(*gamePath)) << *gamePath;
  }

  void StartLink() {
    ::testing::internal::CaptureStderr();
    PrepareDiagnostics();
    link.Start();
    ASSERT_TRUE(ioThread.Start(RunService, &state.io));
  }

  // The link ends by itself: it signals, then the service is stopped.
  bool LinkEndsWithin(uint32_t ms) {
    if (state.gameLinkShutdownEvent.Wait(ms) != WaitResult::Signaled) return false;
    StopLink();
    return true;
  }

  void StopLink() {
    link.Stop();
    state.gameLinkExitedEvent.Wait(kWaitForever);
    state.io.stop();
    ioThread.Join();
    lines = ::testing::internal::GetCapturedStderr();
  }

  // Runs fn on the I/O thread, which owns the queues while it runs.
  void OnLoop(const std::function<void()>& fn) {
    if (!ioThread.Started() || state.io.stopped()) return fn();
    boost::asio::post(state.io, [&] {
      fn();
      done.Set();
    });
    done.Wait(kWaitForever);
  }

  // Every event the page has not taken yet, as "Name param1 param2 ...".
  std::vector<std::string> TakeEvents() {
    OnLoop([this] { TakeEventsNow(); });
    return events;
  }

  void TakeEventsNow() {
    while (auto e = queues.TakeEventFromQueue("page")) {
      EXPECT_EQ(WideToUtf8(e->gameId), "MARBLE-GAME");
      std::string text = WideToUtf8(e->eventName);
      for (const WideString* p : {&e->param1, &e->param2, &e->param3, &e->param4, &e->param5, &e->param6, &e->param7, &e->param8})
        if (!p->empty()) text.append(" ").append(WideToUtf8(*p));
      events.push_back(text);
    }
  }

  bool WaitForEvent(const std::string& text, uint32_t ms) {
    for (uint32_t waited = 0; waited < ms; waited += 20) {
      for (const auto& e : TakeEvents())
        if (e == text) return true;
      SleepMs(20);
    }
    return false;
  }

  // The lines of the thread itself, in order.
  std::vector<std::string> LinkLines() const {
    std::vector<std::string> out;
    std::istringstream in(lines);
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("GantryThread: ", 0) == 0) out.push_back(line + "\n");
    return out;
  }

  std::vector<std::string> ExpectedLines(bool connected, bool found) const {
    const std::string path = PipePath();
    std::vector<std::string> out = {"GantryThread: Looking for game on pipe \"" + path + "\"\n"};
    if (connected) out.push_back("GantryThread: Connected to pipe " + path + "\n");
    if (connected && found)
      out.push_back("GantryThread: Pid of " + exeName + " is " + std::to_string(state.gameProcessId.load()) + "\n");
    if (connected && !found) out.push_back("GantryThread: Unable to locate process for child process " + exeName + "\n");
    out.push_back("GantryThread: Signaling Gantry shutdown event\n");
    return out;
  }

  void ExpectGameFound() {
    EXPECT_EQ(state.gameConnectedEvent.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(state.gameConnectedEvent.Wait(0), WaitResult::TimedOut) << "signalled more than once";
#ifdef _WIN32
    EXPECT_NE(state.gameProcessId.load(), 0u);  // the prefix may list another tovel3.exe first
#else
    EXPECT_EQ(state.gameProcessId.load(), game.Id());
#endif
  }

  static std::string* suiteDir;
  static std::string* gamePath;
  static std::string* gameName;

  std::string dir;
  std::string pipeName;
  std::string exeName;  // the executable name the link looks for
  HelperState state;
  EventQueues queues{u"MARBLE-GAME"};
  GameLink link{state, queues};
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepRunning{state.io.get_executor()};
  Thread ioThread;
  AutoResetEvent done;  // a job given to the I/O thread has run
  ChildProcess game;
  std::string lines;
  std::vector<std::string> events;
};

std::string* GameLinkTest::suiteDir = nullptr;
std::string* GameLinkTest::gamePath = nullptr;
std::string* GameLinkTest::gameName = new std::string("tovel3.exe");

TEST_F(GameLinkTest, LatePipeThenFramesThenTheGameClosesIt) {
  // The pipe appears only after the thread has tried for a while; the frames written
  // just before the close still arrive.
  StartGame("sleep 700\nframe LobbyJoined alice  lobby_3\nframe ScoreChanged 1 0\nclose\n");
  StartLink();
  ASSERT_TRUE(LinkEndsWithin(20000)) << ReadText(RecordPath());
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"StateChanged READY", "LobbyJoined alice lobby_3",
                                                    "ScoreChanged 1 0", "StateChanged GAMEISGONE"}));
  ExpectGameFound();
  EXPECT_EQ(LinkLines(), ExpectedLines(true, true));
  EXPECT_NE(lines.find("GenericGantryCommand::execute: LobbyJoined alice  lobby_3\n"), std::string::npos) << lines;
}

TEST_F(GameLinkTest, WrongMagicEndsTheLinkLikeAClosedPipe) {
  StartGame("frame Good 1\nraw 58 45 07 00 00 00 00\n");
  StartLink();
  ASSERT_TRUE(LinkEndsWithin(20000)) << ReadText(RecordPath());
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"StateChanged READY", "Good 1", "StateChanged GAMEISGONE"}));
  ExpectGameFound();
  EXPECT_EQ(LinkLines(), ExpectedLines(true, true));
  EXPECT_TRUE(game.Running());  // the game is never stopped by the link
}

TEST_F(GameLinkTest, StoppedWhileTheLinkIsUpStillTellsTheGameIsGone) {
  StartGame("frame MatchStarted arena_7\n");
  StartLink();
  ASSERT_TRUE(WaitForEvent("MatchStarted arena_7", 20000)) << ReadText(RecordPath());
  EXPECT_EQ(state.gameLinkShutdownEvent.Wait(300), WaitResult::TimedOut);  // the link stays up
  StopLink();
  EXPECT_EQ(state.gameLinkShutdownEvent.Wait(0), WaitResult::Signaled);
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"StateChanged READY", "MatchStarted arena_7", "StateChanged GAMEISGONE"}));
  ExpectGameFound();
  EXPECT_EQ(LinkLines(), ExpectedLines(true, true));
}

TEST_F(GameLinkTest, PipeWithoutAGameProcessRaisesNothing) {
  TestPipeServer server;  // the test serves the pipe (in a folder of its own on Linux)
  ASSERT_TRUE(server.Create(pipeName));
  exeName = "tovel-absent-" + std::to_string(CurrentProcessId()) + ".exe";
  state.gameLinkTarget.executableName = Utf8ToWide(exeName);
  StartLink();
  ASSERT_TRUE(LinkEndsWithin(20000));
  EXPECT_EQ(LinkLines(), ExpectedLines(true, false));
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_EQ(state.gameConnectedEvent.Wait(0), WaitResult::TimedOut);
  EXPECT_EQ(state.gameProcessId.load(), 0u);
}

TEST_F(GameLinkTest, StoppedBeforeItRunsOnlyLooksAndSignals) {
  link.Stop();
  StartLink();
  ASSERT_TRUE(LinkEndsWithin(5000));
  EXPECT_EQ(lines, "GantryThread: Looking for game on pipe \"" + PipePath() + "\"\nGantryThread: Signaling Gantry shutdown event\n");
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_EQ(state.gameConnectedEvent.Wait(0), WaitResult::TimedOut);
}

}  // namespace
