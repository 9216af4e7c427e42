#include "web/parked_polls.h"

#include <atomic>
#include <deque>
#include <memory>
#include <utility>

#include <boost/asio/post.hpp>

#include "events/event_queues.h"
#include "process/io_service.h"
#include "web/event_text.h"

namespace {

struct ParkedPoll {
  std::string queueName;
  std::weak_ptr<http::server::deferred_reply> reply;
};

// In the order the polls were parked, so that the longest waiting poll of a queue
// gets its next event.
std::deque<ParkedPoll> parked;
std::atomic<bool> wakePending{false};
// Entries in `parked`, plus polls between their first look and their parking. An entry
// whose poll was answered at its deadline, or whose client left, counts until the next
// sweep removes it: that costs at most one wake-up that finds nothing to do. While the
// count is zero a post wakes nothing, so it must not be zero while a poll could miss
// an event.
//
// Why no wake-up is lost: a poll raises the count before its first look at the queue,
// and a post reads the count after it has added its event; the look and the adding
// each hold the queue lock. If the look missed the event, the look had the lock first,
// so the raised count is seen by the post, which then has this thread wake the parked
// polls. That wake-up runs after the poll is parked, since the look and the parking
// run in one go on this same thread. If the look saw the event, nothing need wake it.
std::atomic<int> parkedOrLooking{0};

std::deque<ParkedPoll>::iterator Leave(std::deque<ParkedPoll>::iterator it) {
  --parkedOrLooking;
  return parked.erase(it);
}

bool Waiting(const ParkedPoll& poll) {
  auto reply = poll.reply.lock();
  return reply && reply->waiting();
}

// What a poll answers: the next event of its queue, or "null".
void AnswerPoll(const std::string& queueName, http::server::deferred_reply& reply, bool nullWhenEmpty) {
  if (std::unique_ptr<QueuedEvent> event = TakeEventFromQueue(queueName)) {
    reply.answer(200, "text/plain", EventText(*event));
  } else if (nullWhenEmpty) {
    reply.answer(200, "text/plain", "null");
  }
}

}  // namespace

bool TakeOrPark(const std::string& queueName, http::server::reply_deferral& later, std::string& text) {
  ++parkedOrLooking;
  if (std::unique_ptr<QueuedEvent> event = TakeEventFromQueue(queueName)) {
    --parkedOrLooking;
    text = EventText(*event);
    return true;
  }
  // Polls that were answered at their deadline, or whose client went, leave here.
  for (auto it = parked.begin(); it != parked.end();) it = Waiting(*it) ? it + 1 : Leave(it);
  auto reply = later.defer(kPollWait, [queueName](http::server::deferred_reply& r) { AnswerPoll(queueName, r, true); });
  parked.push_back({queueName, std::move(reply)});
  return false;
}

void WakeParkedPolls() {
  for (auto it = parked.begin(); it != parked.end();) {
    auto reply = it->reply.lock();
    if (reply && reply->waiting()) AnswerPoll(it->queueName, *reply, false);
    it = reply && reply->waiting() ? it + 1 : Leave(it);
  }
}

void AnswerParkedPolls() {
  for (auto it = parked.begin(); it != parked.end(); it = Leave(it)) {
    auto reply = it->reply.lock();
    if (reply && reply->waiting()) AnswerPoll(it->queueName, *reply, true);
  }
}

void NotifyEventPosted() {
  if (parkedOrLooking == 0 || wakePending.exchange(true)) return;
  boost::asio::post(ioService, [] {
    wakePending = false;
    WakeParkedPolls();
  });
}

std::size_t ParkedPollCount() {
  std::size_t count = 0;
  for (const ParkedPoll& poll : parked) count += Waiting(poll) ? 1 : 0;
  return count;
}
