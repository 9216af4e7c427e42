// Tests only: a server on an ephemeral port of its own I/O service, and clients that
// talk to it asynchronously on the same service, so one thread drives both ends.
#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/write.hpp>

#include "http/server.h"

namespace http {
namespace server {

// One client connection and what it has seen.
struct TestClient {
  explicit TestClient(boost::asio::io_context& io) : socket(io) {}
  boost::asio::ip::tcp::socket socket;
  bool connected = false;
  boost::system::error_code connect_error;
  int writes_pending = 0;
  boost::system::error_code write_error;  // of the last write
  std::string received;
  bool ended = false;  // end of stream or an error after the last byte
  boost::system::error_code end_error;
  char chunk[4096];
};

// The requests "/later" has parked, newest last; each answers "late" at its deadline.
inline std::vector<std::weak_ptr<deferred_reply>>& parked_requests() {
  static std::vector<std::weak_ptr<deferred_reply>> parked;
  return parked;
}
inline std::chrono::milliseconds& later_deadline() {
  static std::chrono::milliseconds deadline{10000};
  return deadline;
}

// "/big" answers more than a socket takes at once; "/later" answers later.
inline int32_t AnswerB(const std::string& target, std::string& content_type, std::string& body,
                       reply_deferral& later) {
  if (target == "/later") {
    parked_requests().push_back(
        later.defer(later_deadline(), [](deferred_reply& r) { r.answer(200, "text/plain", "late"); }));
    return kAnswerLater;
  }
  content_type = "text/plain";
  body = target == "/big" ? std::string(8 << 20, 'x') : "B";
  return 200;
}
inline int32_t AnswerPostP(const std::string&, const std::string&, std::string& content_type, std::string& body) {
  content_type = "text/plain";
  body = "P";
  return 200;
}

class ServerHarness {
 public:
  explicit ServerHarness(const server_limits& limits = server_limits{}, int32_t port = 0,
                         request_dispatcher dispatcher = request_dispatcher{AnswerB, AnswerPostP})
      : signals(io), srv(new server(io, signals, port, dispatcher, limits)) {}

  ~ServerHarness() {
    // Servers go before their service, as in the helper; pending work is dropped.
    srv.reset();
  }

  uint16_t port() const { return srv->local_port(); }

  // Runs the service until the predicate holds or the time is up; the predicate's value.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      if (io.stopped()) io.restart();
      io.run_one_for(deadline - now);
    }
    return true;
  }

  // Runs the service for a while; the number of handlers it ran.
  std::size_t RunFor(std::chrono::milliseconds span) {
    if (io.stopped()) io.restart();
    return io.run_for(span);
  }

  std::shared_ptr<TestClient> Connect(uint16_t to_port = 0) {
    auto c = std::make_shared<TestClient>(io);
    const boost::asio::ip::tcp::endpoint ep(boost::asio::ip::make_address_v4("127.0.0.1"), to_port ? to_port : port());
    c->socket.async_connect(ep, [c](const boost::system::error_code& e) {
      c->connected = !e;
      c->connect_error = e;
      if (e) c->ended = true;
    });
    RunUntil([&] { return c->connected || c->ended; });
    return c;
  }

  void Send(const std::shared_ptr<TestClient>& c, const std::string& bytes) {
    auto data = std::make_shared<std::string>(bytes);
    ++c->writes_pending;
    boost::asio::async_write(c->socket, boost::asio::buffer(*data),
                             [c, data](const boost::system::error_code& e, std::size_t) {
                               --c->writes_pending;
                               c->write_error = e;
                             });
    RunUntil([&] { return c->writes_pending == 0; });
  }

  // Reads until the server ends the connection.
  void StartReading(const std::shared_ptr<TestClient>& c) {
    c->socket.async_read_some(boost::asio::buffer(c->chunk), [this, c](const boost::system::error_code& e, std::size_t n) {
      c->received.append(c->chunk, n);
      if (e) {
        c->ended = true;
        c->end_error = e;
      } else {
        StartReading(c);
      }
    });
  }

  bool WaitForEnd(const std::shared_ptr<TestClient>& c, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return RunUntil([&] { return c->ended; }, limit);
  }

  // Connect, send, read to the end; what came back.
  std::string Exchange(const std::string& request) {
    auto c = Connect();
    StartReading(c);
    Send(c, request);
    WaitForEnd(c);
    return c->received;
  }

  boost::asio::io_context io;
  boost::asio::signal_set signals;
  std::unique_ptr<server> srv;
};

}  // namespace server
}  // namespace http
