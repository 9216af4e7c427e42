#include "events/event_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "common/log.h"

namespace {

constexpr int64_t kNow = 1'800'000'000;
constexpr std::size_t kLots = std::numeric_limits<std::size_t>::max() / 2;

QueuedEvent Numbered(int number, std::size_t padding = 0) {
  QueuedEvent e;
  e.gameId = u"MARBLE-GAME";
  e.eventName = u"Flood";
  e.param1 = Utf8ToWide(std::to_string(number));
  e.param2 = WideString(padding, u'x');
  return e;
}

// What a page sees: "n" for event n, "lost:k" for the lost-events event, "-" for nothing.
std::string Seen(const std::unique_ptr<QueuedEvent>& e) {
  if (!e) return "-";
  if (e->eventName == u"EVENTSLOST") return "lost:" + WideToUtf8(e->param1);
  return WideToUtf8(e->param1);
}

std::vector<std::string> TakeAll(EventRegistry& registry, const std::string& name) {
  std::vector<std::string> seen;
  for (auto e = registry.Take(name, kNow); e; e = registry.Take(name, kNow)) seen.push_back(Seen(e));
  return seen;
}

class Registry : public testing::Test {
 protected:
  static void StartCapture() {
    testing::internal::CaptureStderr();
    PrepareDiagnostics();
  }
  static std::string Captured() { return testing::internal::GetCapturedStderr(); }
};

TEST_F(Registry, AFullQueueDropsItsOldestAndTellsTheCountBeforeItsNextEvent) {
  EventRegistry registry(u"MARBLE-GAME", QueueLimits{3, kLots, 8});
  registry.Take("page", kNow);
  for (int n = 1; n <= 5; ++n) registry.Post(Numbered(n), kNow);

  StartCapture();
  auto marker = registry.Take("page", kNow);
  EXPECT_EQ(Captured(), "TakeEventFromQueue: Queue \"page\" was full, dropped its 2 oldest events\n");
  ASSERT_TRUE(marker);
  // A record like any other: the game id, the name, the count, seven empty fields.
  const QueuedEvent expected{u"MARBLE-GAME", u"EVENTSLOST", u"2", u"", u"", u"", u"", u"", u"", u""};
  EXPECT_EQ(std::vector<WideString>({marker->gameId, marker->eventName, marker->param1, marker->param2,
                                     marker->param3, marker->param4, marker->param5, marker->param6,
                                     marker->param7, marker->param8}),
            std::vector<WideString>({expected.gameId, expected.eventName, expected.param1, u"", u"", u"", u"",
                                     u"", u"", u""}));
  EXPECT_EQ(TakeAll(registry, "page"), (std::vector<std::string>{"3", "4", "5"}));

  // The count is of the events lost since the latest take: a second overflow counts anew.
  registry.Post(Numbered(6), kNow);
  EXPECT_EQ(Seen(registry.Take("page", kNow)), "6");
  for (int n = 7; n <= 14; ++n) registry.Post(Numbered(n), kNow);
  EXPECT_EQ(TakeAll(registry, "page"), (std::vector<std::string>{"lost:5", "12", "13", "14"}));
}

// One abandoned queue must cost nothing to a page that keeps up: the pages share the
// events, and only the one that fell behind loses any.
TEST_F(Registry, OnlyTheQueueThatFellBehindLoses) {
  EventRegistry registry(u"MARBLE-GAME", QueueLimits{3, kLots, 8});
  registry.Take("abandoned", kNow);
  registry.Take("keeper", kNow);
  std::vector<std::string> kept;
  for (int n = 1; n <= 100; ++n) {
    registry.Post(Numbered(n), kNow);
    if (n % 2 == 0) {
      for (auto& s : TakeAll(registry, "keeper")) kept.push_back(s);
    }
  }
  std::vector<std::string> all;
  for (int n = 1; n <= 100; ++n) all.push_back(std::to_string(n));
  EXPECT_EQ(kept, all);
  EXPECT_EQ(TakeAll(registry, "abandoned"), (std::vector<std::string>{"lost:97", "98", "99", "100"}));
}

TEST_F(Registry, BoundsInEventsAndInBytes) {
  const std::size_t cost = EventCost(Numbered(1, 100));
  struct {
    const char* what;
    QueueLimits limits;
    std::size_t padding;  // of every event
    std::vector<std::string> seen;
  } cases[] = {
      {"within both", {10, 10 * cost, 8}, 100, {"1", "2", "3", "4", "5", "6"}},
      {"events bound", {4, kLots, 8}, 100, {"lost:2", "3", "4", "5", "6"}},
      {"bytes bound", {10, 3 * cost, 8}, 100, {"lost:3", "4", "5", "6"}},
      // An event larger than the bound alone is still handed out: the newest stays.
      {"one event above the bytes bound", {10, cost / 2, 8}, 100, {"lost:5", "6"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EventRegistry registry(u"MARBLE-GAME", c.limits);
    registry.Take("page", kNow);
    for (int n = 1; n <= 6; ++n) registry.Post(Numbered(n, c.padding), kNow);
    EXPECT_LE(registry.log().bytes(), std::max(c.limits.bytes, cost));
    EXPECT_EQ(TakeAll(registry, "page"), c.seen);
  }
}

TEST_F(Registry, EventsEveryQueueHasTakenAreLetGo) {
  EventRegistry registry(u"MARBLE-GAME", QueueLimits{kLots, kLots, 8});
  for (const char* n : {"a", "b", "c"}) registry.Take(n, kNow);
  for (int n = 1; n <= 1000; ++n) {
    registry.Post(Numbered(n, 50), kNow);
    for (const char* q : {"a", "b", "c"}) registry.Take(q, kNow);
    // At most one post per queue before the taken ones go.
    EXPECT_LE(registry.log().next() - registry.log().first(), 3u);
  }
}

TEST_F(Registry, ANewNamePastTheLimitRemovesTheQueueTakenFromLeastRecently) {
  EventRegistry registry(u"MARBLE-GAME", QueueLimits{kLots, kLots, 3});
  for (const char* n : {"a", "b", "c"}) registry.Take(n, kNow);
  registry.Take("a", kNow);  // b is now the least recently taken from
  StartCapture();
  registry.Take("d", kNow);
  EXPECT_EQ(Captured(), "TakeEventFromQueue: Deleting queue \"b\" to make room for a new one\n");
  EXPECT_EQ(registry.names(), (std::vector<std::string>{"a", "c", "d"}));
}

// Many fresh names a second (pages that poll once and go) neither grow the registry
// nor take the queue of a page that keeps polling.
TEST_F(Registry, FreshNamesDoNotPushOutAPageThatKeepsPolling) {
  EventRegistry registry(u"MARBLE-GAME", QueueLimits{kLots, kLots, 16});
  registry.Take("keeper", kNow);
  std::vector<std::string> kept;
  for (int n = 1; n <= 1000; ++n) {
    registry.Post(Numbered(n), kNow);
    for (int f = 0; f < 10; ++f) registry.Take("fresh-" + std::to_string(n) + "-" + std::to_string(f), kNow);
    for (auto& s : TakeAll(registry, "keeper")) kept.push_back(s);
    ASSERT_LE(registry.size(), 16u);
  }
  ASSERT_EQ(kept.size(), 1000u);
  EXPECT_EQ(kept.back(), "1000");
  EXPECT_LE(registry.log().next() - registry.log().first(), 16u);
}

TEST_F(Registry, PendingCountsWhatTheNextTakesYield) {
  EventRegistry registry(u"MARBLE-GAME", QueueLimits{3, kLots, 8});
  EXPECT_EQ(registry.pending("page"), 0u);
  registry.Take("page", kNow);
  registry.Post(Numbered(1), kNow);
  EXPECT_EQ(registry.pending("page"), 1u);
  for (int n = 2; n <= 5; ++n) registry.Post(Numbered(n), kNow);
  EXPECT_EQ(registry.pending("page"), 4u);  // the lost-events event and three
  EXPECT_EQ(TakeAll(registry, "page").size(), 4u);
}

}  // namespace
