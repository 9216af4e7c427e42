#include "events/event_queues.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/log.h"
#include "events/event_registry.h"
#include "events/wall_clock.h"

namespace {

int64_t fakeNow = 0;
int64_t FakeClock() { return fakeNow; }

QueuedEvent Named(const char* name, const char* param1 = "") {
  QueuedEvent e;
  e.gameId = Widen("MARBLE-GAME");
  e.eventName = Utf8ToWide(name);
  e.param1 = Utf8ToWide(param1);
  return e;
}

std::string NameOf(const std::unique_ptr<QueuedEvent>& e) { return e ? WideToUtf8(e->eventName) : "<none>"; }

class EventQueuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 1'800'000'000;
    SetWallClock(FakeClock);
  }
  void TearDown() override { SetWallClock(nullptr); }

  void PostEventToQueue(const QueuedEvent& event) { eventQueues.PostEventToQueue(event); }
  std::unique_ptr<QueuedEvent> TakeEventFromQueue(const std::string& name) { return eventQueues.TakeEventFromQueue(name); }

  // What the operations print, byte for byte.
  static void StartCapture() {
    ::testing::internal::CaptureStderr();
    PrepareDiagnostics();  // binary mode for the captured stream on Windows
  }
  static std::string Captured() { return ::testing::internal::GetCapturedStderr(); }

  std::vector<std::string> QueueNames() const { return eventQueues.names(); }

  EventQueues eventQueues{u"MARBLE-GAME"};
};

TEST_F(EventQueuesTest, FirstTakeCreatesTheQueueAndLaterPostsReachItOnce) {
  PostEventToQueue(Named("BeforeAnyTake"));  // reaches nobody
  EXPECT_TRUE(eventQueues.empty());

  EXPECT_EQ(NameOf(TakeEventFromQueue("page")), "<none>");
  ASSERT_EQ(QueueNames(), std::vector<std::string>{"page"});

  PostEventToQueue(Named("First"));
  PostEventToQueue(Named("Second"));
  PostEventToQueue(Named("Third", "p1"));
  EXPECT_EQ(NameOf(TakeEventFromQueue("page")), "First");
  EXPECT_EQ(NameOf(TakeEventFromQueue("page")), "Second");
  auto third = TakeEventFromQueue("page");
  ASSERT_TRUE(third);
  EXPECT_EQ(WideToUtf8(third->param1), "p1");
  EXPECT_EQ(WideToUtf8(third->gameId), "MARBLE-GAME");
  EXPECT_EQ(NameOf(TakeEventFromQueue("page")), "<none>");
}

TEST_F(EventQueuesTest, EveryQueueGetsItsOwnCopy) {
  TakeEventFromQueue("a");
  TakeEventFromQueue("b");
  PostEventToQueue(Named("Shared"));
  auto fromA = TakeEventFromQueue("a");
  ASSERT_TRUE(fromA);
  fromA->eventName = Widen("ChangedByTaker");
  EXPECT_EQ(NameOf(TakeEventFromQueue("a")), "<none>");
  EXPECT_EQ(NameOf(TakeEventFromQueue("b")), "Shared");
}

TEST_F(EventQueuesTest, NamesAreExactBytes) {
  const std::vector<std::string> names = {"Page", "page", "", "page ", std::string("pa\0ge", 5)};
  for (auto& n : names) TakeEventFromQueue(n);
  EXPECT_EQ(eventQueues.size(), names.size());
  // Byte-wise order: the empty name and prefixes first, upper case before lower.
  EXPECT_EQ(QueueNames(), (std::vector<std::string>{"", "Page", std::string("pa\0ge", 5), "page", "page "}));

  PostEventToQueue(Named("E"));
  for (auto& n : names) EXPECT_EQ(NameOf(TakeEventFromQueue(n)), "E") << "queue '" << n << "'";
}

struct ExpiryCase {
  const char* what;
  int64_t idleSeconds;  // time since the queue's latest take, at the post
  bool removed;
};

class QueueExpiry : public EventQueuesTest, public ::testing::WithParamInterface<ExpiryCase> {};

TEST_P(QueueExpiry, RemovedOnlyWhenIdleForMoreThanSixtySeconds) {
  const ExpiryCase& c = GetParam();
  TakeEventFromQueue("idle");
  fakeNow += c.idleSeconds;
  StartCapture();
  PostEventToQueue(Named("Tick"));
  const std::string lines = Captured();
  if (c.removed) {
    EXPECT_TRUE(eventQueues.empty());
    // The removal comes after the fan-out and its line has no line end.
    EXPECT_EQ(lines, "PostEventToQueue: Posting event Tick\nPostEventToQueue: Deleting queue \"idle\" after inactivity");
    EXPECT_EQ(NameOf(TakeEventFromQueue("idle")), "<none>");  // a fresh, empty queue
  } else {
    EXPECT_EQ(lines, "PostEventToQueue: Posting event Tick\n");
    EXPECT_EQ(NameOf(TakeEventFromQueue("idle")), "Tick");
  }
}

INSTANTIATE_TEST_SUITE_P(IdleTimes, QueueExpiry,
                         ::testing::Values(ExpiryCase{"just taken", 0, false}, ExpiryCase{"sixty", 60, false},
                                           ExpiryCase{"sixty-one", 61, true}, ExpiryCase{"an hour", 3600, true},
                                           ExpiryCase{"clock set back", -3600, false}),
                         [](const auto& info) {
                           std::string n = info.param.what;
                           for (auto& ch : n)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

// Every idle queue goes at the next post, the least recently polled first; a queue
// in use stays.
TEST_F(EventQueuesTest, APostRemovesEveryIdleQueue) {
  for (const char* n : {"c", "a", "b"}) TakeEventFromQueue(n);
  fakeNow += 10;
  TakeEventFromQueue("z-fresh");
  TakeEventFromQueue("a");
  fakeNow += 55;  // b, c idle for 65 s; z-fresh and a for 55 s

  StartCapture();
  PostEventToQueue(Named("One"));
  EXPECT_EQ(QueueNames(), (std::vector<std::string>{"a", "z-fresh"}));
  fakeNow += 6;
  PostEventToQueue(Named("Two"));
  EXPECT_TRUE(eventQueues.empty());
  EXPECT_EQ(Captured(),
            "PostEventToQueue: Posting event One\n"
            "PostEventToQueue: Deleting queue \"c\" after inactivity"
            "PostEventToQueue: Deleting queue \"b\" after inactivity"
            "PostEventToQueue: Posting event Two\n"
            "PostEventToQueue: Deleting queue \"z-fresh\" after inactivity"
            "PostEventToQueue: Deleting queue \"a\" after inactivity");
  EXPECT_EQ(eventQueues.log().next() - eventQueues.log().first(), 0u);  // nobody holds an event
}

TEST_F(EventQueuesTest, ATakeThatYieldsNothingStillKeepsTheQueueAlive) {
  TakeEventFromQueue("q");
  fakeNow += 50;
  EXPECT_EQ(NameOf(TakeEventFromQueue("q")), "<none>");
  fakeNow += 50;  // 100 s after creation, 50 s after the latest take
  PostEventToQueue(Named("Kept"));
  EXPECT_EQ(NameOf(TakeEventFromQueue("q")), "Kept");
}

TEST_F(EventQueuesTest, PostingLineCarriesTheNameAsUtf8UpToItsFirstNul) {
  StartCapture();
  PostEventToQueue(Named("Sc\xC3\xB6re\xE4\xB8\xAD"));
  QueuedEvent withNul;
  withNul.eventName = WideString(u"Cut") + char16_t(0) + u"Off";
  PostEventToQueue(withNul);
  PostEventToQueue(QueuedEvent{});
  EXPECT_EQ(Captured(),
            "PostEventToQueue: Posting event Sc\xC3\xB6re\xE4\xB8\xAD\n"
            "PostEventToQueue: Posting event Cut\n"
            "PostEventToQueue: Posting event \n");
}

// The listener runs after the event is in place, so a poll that looks again finds it;
// a post that reaches no queue still tells it.
TEST_F(EventQueuesTest, TheListenerHearsOfEveryPostOnceTheEventIsQueued) {
  std::vector<std::string> seen;
  eventQueues.onPosted = [&] { seen.push_back(NameOf(TakeEventFromQueue("page"))); };
  PostEventToQueue(Named("ReachesNobody"));  // the listener's take creates "page"
  PostEventToQueue(Named("First"));
  PostEventToQueue(Named("Second"));
  EXPECT_EQ(seen, (std::vector<std::string>{"<none>", "First", "Second"}));
}

}  // namespace
