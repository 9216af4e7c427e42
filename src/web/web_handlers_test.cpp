#include "web/web_handlers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "events/event_queues.h"
#include "events/wall_clock.h"
#include "web/parked_polls.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class WebHandlers : public testing::Test {
 protected:
  bool QueueExists(const std::string& name) const { return queues.count(name) == 1; }
  size_t Pending(const std::string& name) const { return queues.pending(name); }
  void PostEventToQueue(const QueuedEvent& event) { queues.PostEventToQueue(event); }
  void TakeEventFromQueue(const std::string& name) { queues.TakeEventFromQueue(name); }
  void WakeParkedPolls() { endpoints.polls().WakeParkedPolls(); }
  void AnswerParkedPolls() { endpoints.polls().AnswerParkedPolls(); }
  size_t ParkedPollCount() { return endpoints.polls().ParkedPollCount(); }

  struct Answer {
    int32_t status;
    std::string contentType;
    std::string body;
  };

  // A request as a connection holds it: parked by the handler, answered later.
  struct ParkedRequest : http::server::deferred_reply {
    void answer(int32_t status, const std::string& contentType, const std::string& body) override {
      if (!waiting()) return;
      answered = true;
      later = Answer{status, contentType, body};
    }
    bool waiting() const override { return !answered && !gone; }
    Answer later{0, "", ""};
    bool answered = false;
    bool gone = false;  // the client hung up
    std::chrono::milliseconds deadline{0};
    http::server::reply_deferral::deadline_fn onDeadline;
  };
  struct Deferral : http::server::reply_deferral {
    std::weak_ptr<http::server::deferred_reply> defer(std::chrono::milliseconds deadline, deadline_fn fn) override {
      request = std::make_shared<ParkedRequest>();
      request->deadline = deadline;
      request->onDeadline = std::move(fn);
      return request;
    }
    std::shared_ptr<ParkedRequest> request;
  };

  // Answers given on return; a parked poll has status kAnswerLater.
  Answer Get(const std::string& uri) { return Get(uri, nullptr); }
  Answer Get(const std::string& uri, std::shared_ptr<ParkedRequest>* parked) {
    Answer a{0, "stale", "stale"};
    Deferral later;
    a.status = endpoints.WebGetRequestHandler(uri, a.contentType, a.body, later);
    EXPECT_EQ(a.status == http::server::kAnswerLater, later.request != nullptr) << uri;
    if (parked) *parked = later.request;
    return a;
  }
  static void Deadline(ParkedRequest& r) {
    auto fn = std::move(r.onDeadline);
    fn(r);
  }
  Answer Post(const std::string& uri) {
    Answer a{0, "stale", "stale"};
    a.status = endpoints.WebPostRequestHandler(uri, "ignored content", a.contentType, a.body);
    return a;
  }

  EventQueues queues{u"MARBLE-GAME"};
  std::atomic<uint32_t> gameProcessId{0};
  WebEndpoints endpoints{u"MARBLE-GAME", gameProcessId, queues};
};

QueuedEvent Event(const char16_t* name, const char16_t* p1) {
  QueuedEvent e;
  e.gameId = u"MARBLE-GAME";
  e.eventName = name;
  e.param1 = p1;
  return e;
}

TEST_F(WebHandlers, Handshake) {
  const Answer a = Get("/handshake");
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.contentType, "text/plain");
  EXPECT_EQ(a.body, "{\"app_id\": \"MARBLE-GAME\",\"helper_version\": \"1.6.1\"}");
  EXPECT_EQ(a.body.size(), 51u);
  EXPECT_EQ(Get("/a/b/handshake").body, a.body);
}

// Statuses that need no waiting; none of them creates a queue.
TEST_F(WebHandlers, ImmediateAnswers) {
  struct Case {
    bool post;
    const char* uri;
    int32_t status;
  } cases[] = {
      {false, "/favicon.ico", 404}, {false, "favicon.ico", 400}, {false, "handshake", 400},
      {false, "", 400},             {false, "/killgame", 404},   {false, "/a/killgame", 404},
      {true, "/killgame", 404},     {true, "killgame", 400},     {true, "/handshake", 400},
      {true, "/events", 400},       {true, "/favicon.ico", 400}, {true, "/", 400},
  };
  for (const auto& c : cases) {
    const Answer a = c.post ? Post(c.uri) : Get(c.uri);
    EXPECT_EQ(a.status, c.status) << (c.post ? "POST " : "GET ") << c.uri;
    EXPECT_EQ(a.contentType, "text/plain") << c.uri;
    EXPECT_EQ(a.body, "") << c.uri;
  }
  EXPECT_TRUE(queues.empty());
}

TEST_F(WebHandlers, LogLines) {
  CaptureStderr();
  Get("/q/favicon.ico%20?x");
  Post("/a/killgame");
  Get("/killgame");
  const std::string log = GetCapturedStderr();
  EXPECT_NE(log.find("WebGetRequestHandler: Got call /q/favicon.ico%20?x\n"
                     "WebGetRequestHandler: Polling queue favicon.ico%20?x\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("WebPostRequestHandler: Got call /a/killgame\n"
                     "WebPostRequestHandler: Got POST for command killgame\n"
                     "KillChildProcess: Unable to kill child, PID is 0\n"
                     "WebGetRequestHandler: Got call /killgame\n"),
            std::string::npos)
      << log;
}

// The last segment of the raw URI names the queue: nothing decoded, the query kept,
// case kept, and the empty name is a name.
TEST_F(WebHandlers, PollTakesFromTheNamedQueue) {
  const char* names[] = {"events", "events?x=1", "my%20queue", "favicon.ico", "", "KillGame", "Handshake"};
  for (const char* n : names) TakeEventFromQueue(n);
  PostEventToQueue(Event(u"Moved", u"e2"));

  struct Case {
    const char* uri;
    const char* queue;
  } cases[] = {{"/a/b/events", "events"},       {"/events?x=1", "events?x=1"}, {"/my%20queue", "my%20queue"},
               {"/x/favicon.ico", "favicon.ico"}, {"/", ""},                   {"/KillGame", "KillGame"},
               {"/Handshake", "Handshake"}};
  for (const auto& c : cases) {
    ASSERT_EQ(Pending(c.queue), 1u) << c.queue;
    const Answer a = Get(c.uri);
    EXPECT_EQ(a.status, 200) << c.uri;
    EXPECT_EQ(a.contentType, "text/plain") << c.uri;
    EXPECT_EQ(a.body, "MARBLE-GAME\tMoved\te2\t\t\t\t\t\t\t\t") << c.uri;
    EXPECT_EQ(Pending(c.queue), 0u) << c.uri;
  }
}

TEST_F(WebHandlers, EventText) {
  TakeEventFromQueue("q");
  QueuedEvent full{u"G", u"E", u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8"};
  PostEventToQueue(full);
  QueuedEvent wide = Event(u"Caf\u00E9", u"\u4E2D \xD83D\xDE00");
  PostEventToQueue(wide);
  QueuedEvent nul = Event(u"Cut", u"ab");
  nul.param1 = std::u16string(u"a\0b", 3);
  nul.param2 = u"lost";
  PostEventToQueue(nul);

  EXPECT_EQ(Get("/q").body, "G\tE\t1\t2\t3\t4\t5\t6\t7\t8\t");
  EXPECT_EQ(Get("/q").body, "MARBLE-GAME\tCaf\xC3\xA9\t\xE4\xB8\xAD \xF0\x9F\x98\x80\t\t\t\t\t\t\t\t");
  EXPECT_EQ(Get("/q").body, "MARBLE-GAME\tCut\ta");
}

// A new name: the first take creates the queue and finds nothing, so the poll is
// parked for about a second; at its deadline it answers "null".
TEST_F(WebHandlers, PollOfANewNameIsParkedThenAnswersNull) {
  std::shared_ptr<ParkedRequest> parked;
  EXPECT_EQ(Get("/fresh", &parked).status, http::server::kAnswerLater);
  EXPECT_TRUE(QueueExists("fresh"));
  ASSERT_TRUE(parked);
  EXPECT_EQ(parked->deadline, std::chrono::milliseconds(1000));
  WakeParkedPolls();  // nothing posted: nothing to answer
  EXPECT_TRUE(parked->waiting());
  Deadline(*parked);
  EXPECT_EQ(parked->later.status, 200);
  EXPECT_EQ(parked->later.contentType, "text/plain");
  EXPECT_EQ(parked->later.body, "null");
  EXPECT_EQ(ParkedPollCount(), 0u);
}

// Parked polls take posted events oldest poll first, each event once; a poll whose
// client left takes none; an event that reached the queue unannounced is still found
// at the deadline.
TEST_F(WebHandlers, ParkedPollsTakeEachEventOnceInTheOrderTheyWaited) {
  std::shared_ptr<ParkedRequest> first, gone, second, other;
  Get("/q", &first);
  Get("/q", &gone);
  Get("/q", &second);
  Get("/r", &other);
  gone->gone = true;
  ASSERT_EQ(ParkedPollCount(), 3u);

  PostEventToQueue(Event(u"One", u"1"));
  PostEventToQueue(Event(u"Two", u"2"));
  WakeParkedPolls();
  EXPECT_EQ(first->later.body, "MARBLE-GAME\tOne\t1\t\t\t\t\t\t\t\t");
  EXPECT_EQ(second->later.body, "MARBLE-GAME\tTwo\t2\t\t\t\t\t\t\t\t");
  EXPECT_EQ(other->later.body, "MARBLE-GAME\tOne\t1\t\t\t\t\t\t\t\t");
  EXPECT_FALSE(gone->answered);
  EXPECT_EQ(ParkedPollCount(), 0u);
  EXPECT_EQ(Get("/r").body, "MARBLE-GAME\tTwo\t2\t\t\t\t\t\t\t\t");

  std::shared_ptr<ParkedRequest> late;
  Get("/q", &late);
  queues.Post(Event(u"Three", u"3"), WallClockSeconds());  // no listener told
  EXPECT_TRUE(late->waiting());
  Deadline(*late);
  EXPECT_EQ(late->later.body, "MARBLE-GAME\tThree\t3\t\t\t\t\t\t\t\t");
}

// A post answers the parked polls before it returns (the game link posts on the thread
// that answers polls), and a post with no poll waiting answers nothing.
TEST_F(WebHandlers, APostAnswersParkedPollsAtOnce) {
  TakeEventFromQueue("q");
  PostEventToQueue(Event(u"Unwaited", u"0"));
  EXPECT_EQ(Get("/q").body, "MARBLE-GAME\tUnwaited\t0\t\t\t\t\t\t\t\t");

  std::shared_ptr<ParkedRequest> parked;
  Get("/q", &parked);
  PostEventToQueue(Event(u"One", u"1"));
  EXPECT_EQ(parked->later.body, "MARBLE-GAME\tOne\t1\t\t\t\t\t\t\t\t");
  PostEventToQueue(Event(u"Two", u"2"));
  EXPECT_EQ(Pending("q"), 1u);  // kept for the next poll
  EXPECT_EQ(ParkedPollCount(), 0u);
}

// The ordered shutdown answers the polls that still wait, as their deadline would.
TEST_F(WebHandlers, ParkedPollsAnswerWhenTheServerStops) {
  std::shared_ptr<ParkedRequest> empty, full, gone;
  Get("/e", &empty);
  Get("/f", &full);
  Get("/f", &gone);
  gone->gone = true;
  queues.Post(Event(u"Last", u"1"), WallClockSeconds());  // no listener told
  TakeEventFromQueue("e");  // only f keeps it
  AnswerParkedPolls();
  EXPECT_EQ(empty->later.body, "null");
  EXPECT_EQ(full->later.body, "MARBLE-GAME\tLast\t1\t\t\t\t\t\t\t\t");
  EXPECT_FALSE(gone->answered);
  EXPECT_EQ(ParkedPollCount(), 0u);
}

}  // namespace
