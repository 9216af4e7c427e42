// The registry behind the event queues: one queue per name, each a position in one
// shared log of the posted events, so that a post costs the same however many
// queues exist. Tests build registries of their own with small limits.
//
// What bounds it:
// - the log (see event_log.h): a queue that falls further behind than the log holds
//   loses its oldest events; its next take yields one "EVENTSLOST" event whose first
//   parameter is how many, then its events go on in order;
// - idle queues: one not taken from for more than 60 seconds is removed by the next post;
// - the number of queues: a new name past the limit removes the queue taken from
//   least recently, so a page that keeps polling keeps its queue.
#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "events/event_log.h"
#include "events/queued_event.h"

struct QueueLimits {
  std::size_t events;  // held for the queue that is furthest behind
  std::size_t bytes;   // the same, as EventCost counts them
  std::size_t queues;
};

// Far above what a page that keeps up ever lags (a game writes hundreds of events a
// second), and low enough that the helper stays small whatever the game writes.
constexpr QueueLimits kQueueLimits{20000, 8u << 20, 4096};

// A queue not taken from for more than this many seconds is removed by a later post.
constexpr int64_t queueIdleLimit = 60;

class EventRegistry {
 public:
  // gameId: what the lost-events event names as its game.
  explicit EventRegistry(WideString gameId, QueueLimits limits = kQueueLimits)
      : gameId_(std::move(gameId)), limits_(limits), log_(limits.events, limits.bytes) {}

  // Every existing queue gets the event; then the idle queues are removed.
  void Post(const QueuedEvent& event, int64_t now);
  // The queue's oldest event (or the lost-events event), or nothing; a new name
  // creates its queue.
  std::unique_ptr<QueuedEvent> Take(const std::string& name, int64_t now);

  // Looking inside, for tests and the memory figures.
  bool empty() const { return queues_.empty(); }
  std::size_t size() const { return queues_.size(); }
  std::size_t count(const std::string& name) const { return queues_.count(name); }
  std::vector<std::string> names() const;  // in byte-wise order
  std::size_t pending(const std::string& name) const;  // what the takes of name would yield now
  const EventLog& log() const { return log_; }
  void clear();

 private:
  struct Queue {
    uint64_t next;         // number of the event its next take yields
    int64_t lastActivity;  // wall-clock seconds of the creation or the latest take
    std::list<std::string>::iterator use;
  };

  void RemoveIdle(int64_t now);
  void DropTakenEvents();

  const WideString gameId_;
  const QueueLimits limits_;
  EventLog log_;
  std::map<std::string, Queue> queues_;
  std::list<std::string> byUse_;  // names, the least recently taken from first
  std::size_t postsSinceTrim_ = 0;
};
