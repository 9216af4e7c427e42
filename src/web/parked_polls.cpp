#include "web/parked_polls.h"

#include <utility>

#include "web/event_text.h"

namespace {
bool Waiting(const std::weak_ptr<http::server::deferred_reply>& reply) {
  auto live = reply.lock();
  return live && live->waiting();
}
}  // namespace

ParkedPolls::ParkedPolls(EventQueues& queues) : queues(queues) {
  queues.onPosted = [this] { WakeParkedPolls(); };
}

ParkedPolls::~ParkedPolls() { queues.onPosted = nullptr; }

bool ParkedPolls::AnswerPoll(const std::string& queueName, http::server::deferred_reply& reply, bool nullWhenEmpty) {
  if (std::unique_ptr<QueuedEvent> event = queues.TakeEventFromQueue(queueName)) {
    reply.answer(200, "text/plain", EventText(*event));
  } else if (nullWhenEmpty) {
    reply.answer(200, "text/plain", "null");
  } else {
    return false;
  }
  return true;
}

bool ParkedPolls::TakeOrPark(const std::string& queueName, http::server::reply_deferral& later, std::string& text) {
  if (std::unique_ptr<QueuedEvent> event = queues.TakeEventFromQueue(queueName)) {
    text = EventText(*event);
    return true;
  }
  // Polls whose connection has ended (answered at their deadline, or their client
  // went) leave here; asking the others whether they still wait would cost each a look.
  for (auto it = parked.begin(); it != parked.end();) it = it->reply.expired() ? parked.erase(it) : it + 1;
  auto reply = later.defer(kPollWait, [this, queueName](http::server::deferred_reply& r) { AnswerPoll(queueName, r, true); });
  parked.push_back({queueName, std::move(reply)});
  return false;
}

void ParkedPolls::WakeParkedPolls() {
  for (auto it = parked.begin(); it != parked.end();) {
    auto reply = it->reply.lock();
    const bool stays = reply && reply->waiting() && !AnswerPoll(it->queueName, *reply, false);
    it = stays ? it + 1 : parked.erase(it);
  }
}

void ParkedPolls::AnswerParkedPolls() {
  // Taken out first: an answer may run code that parks another poll.
  std::deque<ParkedPoll> waiting;
  waiting.swap(parked);
  for (ParkedPoll& poll : waiting) {
    if (auto reply = poll.reply.lock(); reply && reply->waiting()) AnswerPoll(poll.queueName, *reply, true);
  }
}

std::size_t ParkedPolls::ParkedPollCount() const {
  std::size_t count = 0;
  for (const ParkedPoll& poll : parked) count += Waiting(poll.reply) ? 1 : 0;
  return count;
}
