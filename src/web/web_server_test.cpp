// The helper's listeners on an I/O thread of their own (port 0: any free port).
#include "web/web_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <boost/asio/connect.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "common/sync.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

uint32_t RunService(void* io) {
  static_cast<boost::asio::io_context*>(io)->run();
  return 0;
}

class WebServerTest : public testing::Test {
 protected:
  void SetUp() override {
    done.Create();
    CaptureStderr();
  }
  void TearDown() override {
    if (thread.Started()) {
      state.io.stop();
      thread.Join();
    }
    done.Close();
  }

  void Start() {
    boost::asio::post(state.io, [this] { web.Start(); });
    ASSERT_TRUE(thread.Start(RunService, &state.io));
  }

  // Runs fn on the I/O thread and waits for it.
  void OnLoop(const std::function<void()>& fn) {
    boost::asio::post(state.io, [&] {
      fn();
      done.Set();
    });
    done.Wait(kWaitForever);
  }

  // What the shutdown does: stop the listeners, then the service once they are gone.
  void StopAndJoin() {
    boost::asio::post(state.io, [this] { web.Stop([this] { state.io.stop(); }); });
    thread.Join();
  }

  HelperState state;
  EventQueues queues{u"MARBLE-GAME"};
  WebServer web{state, queues};
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> keepRunning{state.io.get_executor()};
  Thread thread;
  AutoResetEvent done;
};

TEST_F(WebServerTest, WithoutPortsItEndsAtOnceAndTheServiceRunsOn) {
  Start();
  bool ended = false;
  OnLoop([&] { ended = web.ended(); });
  EXPECT_TRUE(ended);
  StopAndJoin();  // a stop after the end still lets the service go
  EXPECT_EQ(GetCapturedStderr(), "WebServerThread: Exiting\n");
}

// A page's poll that waits when the helper shuts down gets its answer, whole, before
// the listeners go.
TEST_F(WebServerTest, StopAnswersTheWaitingPollThenEnds) {
  state.webServerPorts = {0, 0};
  Start();
  std::vector<uint16_t> ports;
  OnLoop([&] { ports = web.LocalPorts(); });
  ASSERT_EQ(ports.size(), 2u);
  ASSERT_NE(ports[1], 0);

  boost::asio::io_context client;
  boost::asio::ip::tcp::socket page(client);
  page.connect({boost::asio::ip::make_address("127.0.0.1"), ports[1]});
  boost::asio::write(page, boost::asio::buffer(std::string("GET /q HTTP/1.0\r\nOrigin: http://127.0.0.1:8080\r\n\r\n")));
  std::size_t parked = 0;
  for (int i = 0; i < 500 && parked == 0; ++i) {
    OnLoop([&] { parked = web.polls().ParkedPollCount(); });
    if (parked == 0) SleepMs(10);
  }
  ASSERT_EQ(parked, 1u);

  StopAndJoin();
  std::string reply;
  boost::system::error_code error;
  char buffer[1024];
  for (std::size_t n; (n = page.read_some(boost::asio::buffer(buffer), error)) > 0 || !error;) reply.append(buffer, n);
  EXPECT_EQ(reply.substr(0, 17), "HTTP/1.0 200 OK\r\n") << reply;
  EXPECT_EQ(reply.substr(reply.size() - 8), "\r\n\r\nnull") << reply;
  const std::string lines = GetCapturedStderr();
  EXPECT_EQ(lines.substr(lines.size() - 25), "WebServerThread: Exiting\n") << lines;
}

}  // namespace
