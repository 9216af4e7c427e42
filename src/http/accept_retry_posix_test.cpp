#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include "http/server_test_support.h"

namespace http {
namespace server {
namespace {

using namespace std::chrono_literals;

// With every descriptor of the process in use, accepting fails with EMFILE. The server
// must wait before it tries again rather than spin, and serve once a descriptor is free.
TEST(AcceptRetry, OutOfDescriptorsPausesThenRecovers) {
  server_limits limits;
  limits.accept_retry_delay = 100ms;
  ServerHarness h(limits);
  // The client's socket exists before the descriptors run out.
  auto waiting = std::make_shared<TestClient>(h.io);
  waiting->socket.open(boost::asio::ip::tcp::v4());

  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  std::vector<int> fillers;
  for (;;) {
    int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) break;
    fillers.push_back(fd);
    if (fillers.size() > 4096) break;
  }
  rlimit low = old;
  low.rlim_cur = static_cast<rlim_t>(fillers.empty() ? 64 : fillers.back() + 1);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  // From here no descriptor can be created.
  const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (probe >= 0) close(probe);
  const bool exhausted = probe < 0;

  bool connected = false;
  waiting->socket.async_connect({boost::asio::ip::make_address_v4("127.0.0.1"), h.port()},
                                [&](const boost::system::error_code& e) { connected = !e; });
  const std::size_t handlers = h.RunFor(500ms);

  close(fillers.back());
  fillers.pop_back();
  h.StartReading(waiting);
  h.Send(waiting, "GET /x HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n");
  const bool ended = h.WaitForEnd(waiting, 5s);

  setrlimit(RLIMIT_NOFILE, &old);
  for (int fd : fillers) close(fd);

  ASSERT_TRUE(exhausted);
  EXPECT_TRUE(connected);
  // About five retries in half a second; a server that retried at once would run
  // many thousands of handlers.
  EXPECT_LT(handlers, 50u);
  ASSERT_TRUE(ended);
  EXPECT_NE(waiting->received.find("\r\n\r\nB"), std::string::npos) << waiting->received;
}

// A listener that no longer listens (here shut down under the server) fails every
// accept with EINVAL while the system keeps reporting it ready: the server must pause
// between tries as for a shortage, not retry at once.
TEST(AcceptRetry, ListenerThatFailsEveryAcceptIsNotSpunOn) {
  server_limits limits;
  limits.accept_retry_delay = 100ms;
  ServerHarness h(limits);
  int listener = -1;
  for (int fd = 0; fd < 1024 && listener < 0; ++fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    int listening = 0;
    socklen_t size = sizeof listening;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 && address.sin_family == AF_INET &&
        ntohs(address.sin_port) == h.port() && getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 &&
        listening) {
      listener = fd;
    }
  }
  ASSERT_GE(listener, 0);
  ASSERT_EQ(shutdown(listener, SHUT_RD), 0);
  EXPECT_LT(h.RunFor(500ms), 50u);
  h.srv->stop();
  h.RunFor(100ms);
  EXPECT_TRUE(h.io.stopped());
}

}  // namespace
}  // namespace server
}  // namespace http
