#include "http/server.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "common/log.h"
#include "http/native_socket.h"
#include "http/server_test_support.h"

namespace http {
namespace server {
namespace {

using namespace std::chrono_literals;

const std::string kRequest = "GET /x HTTP/1.1\r\nOrigin: http://localhost\r\n\r\n";
const std::string kAnswer =
    "HTTP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Type: text/plain\r\n"
    "Access-Control-Allow-Origin: http://localhost\r\n\r\nB";

std::string Bytes(const outgoing_reply& reply) {
  std::string out;
  for (const auto& range : serialize(reply)) out.append(static_cast<const char*>(range.data()), range.size());
  return out;
}

TEST(Server, AnswersOneRequestAndCloses) {
  ServerHarness h;
  ASSERT_NE(h.port(), 0);
  EXPECT_EQ(h.Exchange(kRequest), kAnswer);
  // The body after the head is never read; the answer comes as soon as the head is there.
  EXPECT_EQ(h.Exchange("POST /killgame HTTP/1.0\r\nOrigin: http://localhost\r\nContent-Length: 5\r\n\r\nabcde"),
            "HTTP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Type: text/plain\r\n"
            "Access-Control-Allow-Origin: http://localhost\r\n\r\nP");
  EXPECT_EQ(h.Exchange("GET /x HTTP/1.0\n\n"), Bytes(canned_reply(400)));
  EXPECT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 0; }));
}

// What the socket does not take at once follows, in order, and only then the close.
TEST(Server, LargeReplyArrivesWhole) {
  ServerHarness h;
  const std::string reply = h.Exchange("GET /big HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n");
  const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 8388608\r\nContent-Type: text/plain\r\n"
                           "Access-Control-Allow-Origin: http://localhost\r\n\r\n";
  ASSERT_EQ(reply.size(), head.size() + (8u << 20));
  EXPECT_EQ(reply.substr(0, head.size()), head);
  EXPECT_EQ(reply.find_first_not_of('x', head.size()), std::string::npos);
}

// A parked request holds nothing but its own connection: others are served meanwhile,
// and it is answered by the handler's later answer or at its deadline, once.
TEST(Server, DeferredAnswerComesLaterWithoutHoldingOthers) {
  const std::string later = "GET /later HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n";
  const std::string answered = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Type: text/plain\r\n"
                               "Access-Control-Allow-Origin: http://localhost\r\n\r\nnow";
  const std::string at_deadline = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Type: text/plain\r\n"
                                  "Access-Control-Allow-Origin: http://localhost\r\n\r\nlate";
  for (bool by_deadline : {false, true}) {
    SCOPED_TRACE(by_deadline ? "deadline" : "answer");
    later_deadline() = by_deadline ? 300ms : 60s;
    parked_requests().clear();
    ServerHarness h;
    auto c = h.Connect();
    h.StartReading(c);
    h.Send(c, later);
    ASSERT_TRUE(h.RunUntil([&] { return parked_requests().size() == 1; }));
    EXPECT_EQ(h.Exchange(kRequest), kAnswer);
    EXPECT_EQ(c->received, "");
    auto parked = parked_requests()[0].lock();
    ASSERT_TRUE(parked && parked->waiting());
    if (!by_deadline) {
      parked->answer(200, "text/plain", "now");
      parked->answer(404, "text/plain", "twice");  // only the first answer counts
    }
    ASSERT_TRUE(h.WaitForEnd(c));
    EXPECT_EQ(c->received, by_deadline ? at_deadline : answered);
    EXPECT_FALSE(parked->waiting());
    EXPECT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 0; }));
  }
}

// A parked request ends without an answer when its client hangs up (closing, or
// resetting, its socket) or the server stops; its slot is free at once, and a late
// answer goes nowhere, so an event is never handed to a page that left.
TEST(Server, DeferredRequestEndsWithItsClientOrTheServer) {
  later_deadline() = 60s;
  enum class end { client_closes, client_resets, server_stops };
  for (end how : {end::client_closes, end::client_resets, end::server_stops}) {
    SCOPED_TRACE(static_cast<int>(how));
    parked_requests().clear();
    ServerHarness h;
    auto c = h.Connect();
    h.StartReading(c);
    h.Send(c, "GET /later HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n");
    ASSERT_TRUE(h.RunUntil([&] { return parked_requests().size() == 1; }));
    if (how == end::server_stops) {
      h.srv->stop();
      ASSERT_TRUE(h.WaitForEnd(c));
      EXPECT_EQ(c->received, "");
    } else {
      if (how == end::client_resets) c->socket.set_option(boost::asio::socket_base::linger(true, 0));
      c->socket.close();
    }
    // A client that left is found out, at the latest, when its answer is due.
    h.RunFor(100ms);
    auto parked = parked_requests()[0].lock();
    EXPECT_FALSE(parked && parked->waiting());
    EXPECT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 0; }));
    if (parked) parked->answer(200, "text/plain", "too late");
    EXPECT_EQ(c->received, "");
  }
}

// A client that shuts its sending side once the request is out (as HTTP/1.0 tools do)
// still reads: it gets its whole answer, given later or at the deadline.
TEST(Server, HalfClosedClientStillGetsItsAnswer) {
  if (!can_tell_half_close) GTEST_SKIP() << "this system cannot tell a half-closed client from one that left";
  const std::string answered = "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Type: text/plain\r\n"
                               "Access-Control-Allow-Origin: http://localhost\r\n\r\nnow";
  const std::string at_deadline = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\nContent-Type: text/plain\r\n"
                                  "Access-Control-Allow-Origin: http://localhost\r\n\r\nlate";
  for (bool by_deadline : {false, true}) {
    SCOPED_TRACE(by_deadline ? "deadline" : "answer");
    later_deadline() = by_deadline ? 500ms : 60s;
    parked_requests().clear();
    ServerHarness h;
    auto c = h.Connect();
    h.StartReading(c);
    h.Send(c, "GET /later HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n");
    c->socket.shutdown(boost::asio::ip::tcp::socket::shutdown_send);
    ASSERT_TRUE(h.RunUntil([&] { return parked_requests().size() == 1; }));
    h.RunFor(100ms);  // the server sees the end of the client's input
    auto parked = parked_requests()[0].lock();
    ASSERT_TRUE(parked && parked->waiting());
    EXPECT_EQ(h.srv->connection_count(), 1u);
    if (!by_deadline) parked->answer(200, "text/plain", "now");
    ASSERT_TRUE(h.WaitForEnd(c));
    EXPECT_EQ(c->received, by_deadline ? at_deadline : answered);
    EXPECT_EQ(c->end_error, boost::asio::error::eof) << c->end_error.message();
    EXPECT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 0; }));
  }
}

// Bytes the server never reads (a body, the rest of a head it refused) must not reset
// the connection before the client has read its reply: the client here sends all it
// has, and only then reads.
TEST(Server, ReplyArrivesWholeWhenTheClientStillSends) {
  const std::string body(4 << 20, 'b');
  struct Case {
    const char* what;
    std::string request;
    std::string reply;
  } cases[] = {
      {"body after the head", "POST /killgame HTTP/1.0\r\nOrigin: http://localhost\r\nContent-Length: " +
                                  std::to_string(body.size()) + "\r\n\r\n" + body,
       "HTTP/1.0 200 OK\r\nContent-Length: 1\r\nContent-Type: text/plain\r\n"
       "Access-Control-Allow-Origin: http://localhost\r\n\r\nP"},
      {"head over the limit", "GET /x HTTP/1.0\r\nX: " + body + "\r\n\r\n", Bytes(canned_reply(400))},
      {"bad head", "GET /x HTTP/1.0\n" + body, Bytes(canned_reply(400))},
  };
  for (const auto& k : cases) {
    ServerHarness h;
    auto c = h.Connect();
    h.Send(c, k.request);
    EXPECT_FALSE(c->write_error) << k.what << ": " << c->write_error.message();
    h.StartReading(c);
    ASSERT_TRUE(h.WaitForEnd(c)) << k.what;
    EXPECT_EQ(c->received, k.reply) << k.what;
    EXPECT_EQ(c->end_error, boost::asio::error::eof) << k.what << ": " << c->end_error.message();
    c->socket.close();  // as a browser does once it has the reply
    EXPECT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 0; })) << k.what;
  }
}

TEST(Server, HeadInPiecesIsAnsweredOnceAfterTheLast) {
  ServerHarness h;
  auto c = h.Connect();
  h.StartReading(c);
  for (size_t at = 0; at < kRequest.size(); at += 7) {
    h.Send(c, kRequest.substr(at, 7));
    h.RunFor(20ms);
    if (at + 7 < kRequest.size()) {
      EXPECT_EQ(c->received, "") << "after " << at + 7 << " bytes";
    }
  }
  ASSERT_TRUE(h.WaitForEnd(c));
  EXPECT_EQ(c->received, kAnswer);
}

TEST(Server, ClientThatLeavesEarlyIsForgotten) {
  ServerHarness h;
  auto c = h.Connect();
  h.Send(c, "GET /x HTT");
  ASSERT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 1; }));
  c->socket.close();
  EXPECT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 0; }));
}

// Past the limit the canned 400 goes out and the connection ends; the reset that the
// unread rest may cause comes after the reply.
TEST(Server, OverlongHeadGetsBadRequest) {
  struct Case {
    std::size_t limit;
    std::size_t head;
  } cases[] = {{100, 101}, {kMaxRequestHead, kMaxRequestHead + 1}};
  for (const auto& k : cases) {
    server_limits limits;
    limits.max_request_head = k.limit;
    ServerHarness h(limits);
    const std::string start = "GET /x HTTP/1.0\r\nX: ";
    std::string head = start + std::string(k.head - start.size() - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(head.size(), k.head);
    EXPECT_EQ(h.Exchange(head), Bytes(canned_reply(400))) << k.limit;

    head = start + std::string(k.limit - start.size() - 4, 'a') + "\r\n\r\n";
    EXPECT_EQ(h.Exchange(head), Bytes(canned_reply(403))) << "a head of exactly the limit is served; " << k.limit;
  }
}

TEST(Server, IncompleteHeadTimesOutWithoutReply) {
  server_limits limits;
  limits.head_timeout = 300ms;
  ServerHarness h(limits);
  auto silent = h.Connect();
  auto partial = h.Connect();
  h.StartReading(silent);
  h.StartReading(partial);
  h.Send(partial, "GET /x HTTP/1.0\r\nOrigin: http://loc");
  ASSERT_TRUE(h.WaitForEnd(silent, 5s));
  ASSERT_TRUE(h.WaitForEnd(partial, 5s));
  EXPECT_EQ(silent->received, "");
  EXPECT_EQ(partial->received, "");
  EXPECT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 0; }));
  // A quick client is not affected by the timer it leaves behind.
  EXPECT_EQ(h.Exchange(kRequest), kAnswer);
  h.RunFor(400ms);
  EXPECT_EQ(h.Exchange(kRequest), kAnswer);
}

// The lines a request logs are in the file before its reply is out, also when the
// same turn of the loop goes on to take more requests (their lines are held and
// written together). The second request's handler looks at the file when the first
// reply has reached its client.
TEST(Server, LinesOfARequestAreWrittenBeforeItsReply) {
  std::string seen_at_second;
  TestClient* first = nullptr;  // the clients belong to the harness's service, and go before it
  auto answer = [&](const std::string& target, std::string& content_type, std::string& body, reply_deferral&) {
    Log("handling %s\n", target.c_str());
    if (target == "/second") {
      char reply[512];
      const auto n = ::recv(first->socket.native_handle(), reply, static_cast<int>(sizeof reply), 0);  // out already: answered and closed first
      EXPECT_GT(n, 0);
      seen_at_second = ::testing::internal::GetCapturedStderr();
    }
    content_type = "text/plain";
    body = "B";
    return 200;
  };
  ServerHarness h(server_limits{}, 0, request_dispatcher{answer, AnswerPostP});
  auto first_client = h.Connect();
  first = first_client.get();
  auto second = h.Connect();
  ::testing::internal::CaptureStderr();
  PrepareDiagnostics();
  // Both heads are there before the loop next looks, so one turn takes both.
  for (auto [c, target] : {std::pair{first_client, "/first"}, std::pair{second, "/second"}}) {
    const std::string head = std::string("GET ") + target + " HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n";
    ASSERT_EQ(::send(c->socket.native_handle(), head.data(), static_cast<int>(head.size()), 0),
              static_cast<int>(head.size()));
  }
  h.StartReading(second);
  ASSERT_TRUE(h.WaitForEnd(second));
  EXPECT_EQ(seen_at_second.substr(0, std::string("handling /first\n").size()), "handling /first\n");
}

// The production bound: 256 open connections; the next one is closed unanswered and
// the listener goes on.
TEST(Server, ConnectionsBeyondTheBoundAreClosed) {
  ServerHarness h;
  std::vector<std::shared_ptr<TestClient>> idle;
  for (int i = 0; i < 256; ++i) {
    idle.push_back(h.Connect());
    ASSERT_TRUE(idle.back()->connected) << i;
  }
  ASSERT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 256; }));

  auto extra = h.Connect();
  h.StartReading(extra);
  h.Send(extra, kRequest);
  ASSERT_TRUE(h.WaitForEnd(extra));
  EXPECT_EQ(extra->received, "");
  EXPECT_EQ(h.srv->connection_count(), 256u);

  // One of the admitted ones is still served, and once it is gone there is room again.
  auto first = idle.front();
  h.StartReading(first);
  h.Send(first, kRequest);
  ASSERT_TRUE(h.WaitForEnd(first));
  EXPECT_EQ(first->received, kAnswer);
  EXPECT_EQ(h.Exchange(kRequest), kAnswer);
}

// Waiting polls whose clients left leave room for a newcomer at the bound, also where
// such a poll is not watched while it waits.
TEST(Server, PollsWhoseClientsLeftMakeRoomAtTheBound) {
  later_deadline() = 60s;
  parked_requests().clear();
  ServerHarness h;
  std::vector<std::shared_ptr<TestClient>> left;
  for (int i = 0; i < 256; ++i) {
    left.push_back(h.Connect());
    ASSERT_TRUE(left.back()->connected) << i;
    h.Send(left.back(), "GET /later HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n");
  }
  ASSERT_TRUE(h.RunUntil([&] { return parked_requests().size() == 256; }));
  for (auto& c : left) c->socket.close();
  h.RunFor(100ms);
  EXPECT_EQ(h.Exchange(kRequest), kAnswer);
}

// A stop, by the signal or called, closes the listener and every connection that has no
// reply on its way at once. A reply on its way still arrives whole to a client that
// reads it late, and then nothing of the server is left to run.
TEST(Server, StopLetsRepliesOnTheirWayFinish) {
  later_deadline() = 60s;
  for (bool by_signal : {true, false}) {
    SCOPED_TRACE(by_signal ? "signal" : "stop()");
    parked_requests().clear();
    ServerHarness h;
    const uint16_t port = h.port();
    auto partial = h.Connect();
    h.Send(partial, "GET /x HTTP/1.0\r\n");
    auto parked = h.Connect();
    h.Send(parked, "GET /later HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n");
    auto big = h.Connect();
    h.Send(big, "GET /big HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n");
    ASSERT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 3 && parked_requests().size() == 1; }));
    h.RunFor(100ms);  // the big reply fills the socket's buffers and waits

    if (by_signal) {
      h.signals.cancel();  // the wait completes as for a signal
    } else {
      h.srv->stop();
    }
    h.StartReading(partial);
    h.StartReading(parked);
    ASSERT_TRUE(h.WaitForEnd(partial));
    ASSERT_TRUE(h.WaitForEnd(parked));
    EXPECT_EQ(partial->received, "");
    EXPECT_EQ(parked->received, "");
    EXPECT_EQ(h.srv->connection_count(), 1u);
    EXPECT_EQ(h.port(), 0);
    EXPECT_FALSE(h.Connect(port)->connected);

    h.RunFor(200ms);
    EXPECT_TRUE(big->received.empty());
    h.StartReading(big);
    h.io.restart();
    h.io.run_for(20s);
    EXPECT_TRUE(h.io.stopped()) << "the run did not end by itself";
    EXPECT_EQ(big->end_error, boost::asio::error::eof) << big->end_error.message();
    EXPECT_EQ(big->received.size() - big->received.find("\r\n\r\n") - 4, 8u << 20);
    EXPECT_EQ(h.srv->connection_count(), 0u);
  }
}

// A client that does not read its reply holds its slot until the write time-out; the
// reply is then cut.
TEST(Server, ReplyNotTakenInTimeIsCut) {
  server_limits limits;
  limits.write_timeout = 300ms;
  ServerHarness h(limits);
  auto c = h.Connect();
  h.Send(c, "GET /big HTTP/1.0\r\nOrigin: http://localhost\r\n\r\n");
  ASSERT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 1; }));
  EXPECT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 0; }, 5s));
  h.StartReading(c);
  ASSERT_TRUE(h.WaitForEnd(c));
  // Cut: the rest is not sent after the close (the client sees a reset, under Wine an end).
  EXPECT_LT(c->received.size(), 8u << 20);
}

// The web server thread destroys its servers after the service stopped; completions
// left queued must not reach them, and open connections are closed.
TEST(Server, DestroyedServerLeavesNothingBehind) {
  ServerHarness h;
  auto c = h.Connect();
  h.StartReading(c);
  h.Send(c, "GET /x HTTP/1.0\r\n");
  ASSERT_TRUE(h.RunUntil([&] { return h.srv->connection_count() == 1; }));
  // Perhaps still in the backlog. It has begun its head: where the system hands over a
  // connection only once bytes arrive, a silent one would learn of the end only by sending.
  auto late = h.Connect();
  h.Send(late, "GET");
  h.io.stop();
  h.srv.reset();
  h.StartReading(late);
  ASSERT_TRUE(h.WaitForEnd(c));
  EXPECT_EQ(c->received, "");
  ASSERT_TRUE(h.WaitForEnd(late));
  EXPECT_EQ(late->received, "");
}

TEST(Server, PortTakenIsReportedAndOthersServe) {
  ServerHarness first;
  testing::internal::CaptureStderr();
  server second(first.io, first.signals, first.port(), request_dispatcher{AnswerB, AnswerPostP}, server_limits{});
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(second.local_port(), 0);
  EXPECT_TRUE(std::regex_match(log, std::regex("http::server::server::server: Binding of port " +
                                               std::to_string(first.port()) + " failed with error .*:[0-9]+\n")))
      << log;
  EXPECT_EQ(first.Exchange(kRequest), kAnswer);
}

}  // namespace
}  // namespace server
}  // namespace http
