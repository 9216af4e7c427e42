// Polls of empty queues, parked until an event is posted or their second is up, so
// that a page waiting for events holds no other request. Everything here, the posts
// that wake the polls included, runs on the I/O thread.
#pragma once
#include <chrono>
#include <deque>
#include <memory>
#include <string>

#include "events/event_queues.h"
#include "http/deferred_reply.h"

// How long a poll waits for an event before it answers "null".
constexpr std::chrono::milliseconds kPollWait{1000};

class ParkedPolls {
 public:
  // Wakes the parked polls after every post to these queues.
  explicit ParkedPolls(EventQueues& queues);
  ~ParkedPolls();
  ParkedPolls(const ParkedPolls&) = delete;
  ParkedPolls& operator=(const ParkedPolls&) = delete;

  // A poll's first look: the queue's next event as its text, or false once the poll is
  // parked (it is then answered later, through `later`).
  bool TakeOrPark(const std::string& queueName, http::server::reply_deferral& later, std::string& text);

  // Every parked poll, oldest first, takes the next event of its queue, if there is one.
  void WakeParkedPolls();

  // Every parked poll answers now, as at its deadline: its next event or "null".
  void AnswerParkedPolls();

  // Polls parked and still waiting.
  std::size_t ParkedPollCount() const;

 private:
  struct ParkedPoll {
    std::string queueName;
    std::weak_ptr<http::server::deferred_reply> reply;
  };

  // True when it answered.
  bool AnswerPoll(const std::string& queueName, http::server::deferred_reply& reply, bool nullWhenEmpty);

  EventQueues& queues;
  // In the order the polls were parked, so that the longest waiting poll of a queue
  // gets its next event.
  std::deque<ParkedPoll> parked;
};
