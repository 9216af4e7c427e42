// The game's pipe as a stream of the I/O service, against a pipe the test serves.
#include "gamelink/game_pipe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <boost/asio/io_context.hpp>

#include "common/sync.h"
#include "gamelink/test_pipe_server.h"

namespace {

std::string UniqueName() {
  static int count = 0;
  return "tovel_pipe_test_" + std::to_string(CurrentProcessId()) + "_" + std::to_string(++count);
}

TEST(GamePipe, AnAbsentPipeFailsToOpenAtOnce) {
  boost::asio::io_context io;
  GamePipe pipe(io);
  boost::system::error_code error;
  EXPECT_FALSE(OpenGamePipe(pipe, "\\\\.\\pipe\\" + UniqueName(), error));
  EXPECT_TRUE(error);
  EXPECT_FALSE(pipe.is_open());
}

class GamePipeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Create(UniqueName()));
    boost::system::error_code error;
    ASSERT_TRUE(OpenGamePipe(pipe, server.PipePath(), error)) << error.message();
    ASSERT_TRUE(server.Accept());
  }

  // Starts one read; its outcome lands in `got` and `error` when the service runs it.
  void StartRead() {
    done = false;
    pipe.async_read_some(boost::asio::buffer(buffer), [this](const boost::system::error_code& e, std::size_t n) {
      got.append(buffer, n);
      error = e;
      done = true;
    });
  }

  // Runs the service until the read in flight has ended, for at most 5 s.
  bool Finish() {
    io.restart();
    for (int i = 0; i < 500 && !done; ++i) io.run_for(std::chrono::milliseconds(10));
    return done;
  }

  boost::asio::io_context io;
  GamePipe pipe{io};
  TestPipeServer server;
  char buffer[4096];
  std::string got;
  boost::system::error_code error;
  bool done = false;
};

TEST_F(GamePipeTest, BytesArriveInOrderThenTheGameClosingItsEndFailsTheRead) {
  const std::string sent = "KE frames and more";
  StartRead();
  ASSERT_TRUE(server.Write(sent));
  while (got.size() < sent.size()) {
    ASSERT_TRUE(Finish());
    ASSERT_FALSE(error) << error.message();
    if (got.size() < sent.size()) StartRead();
  }
  EXPECT_EQ(got, sent);

  StartRead();
  server.CloseClient();
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(error);  // the end of the stream, or a broken pipe
  EXPECT_EQ(got, sent);
}

TEST_F(GamePipeTest, ClosingThePipeEndsTheReadInFlightAndLetsTheGameGo) {
  StartRead();
  pipe.close();
  ASSERT_TRUE(Finish());
  EXPECT_TRUE(error);  // aborted; Wine reports a broken pipe
  // The game's end now finds nobody: the bytes have nowhere to go.
  bool written = true;
  for (int i = 0; i < 50 && written; ++i) {
    written = server.Write(std::string(64, 'x'));
    SleepMs(10);
  }
  EXPECT_FALSE(written);
}

}  // namespace
