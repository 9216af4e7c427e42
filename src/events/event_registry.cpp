#include "events/event_registry.h"

#include <algorithm>

#include "common/log.h"

void EventRegistry::Post(const QueuedEvent& event, int64_t now) {
  if (queues_.empty()) {
    log_.Clear();  // reaches nobody
    return;
  }
  log_.Append(event);
  DropTakenEvents();
  RemoveIdle(now);
}

std::unique_ptr<QueuedEvent> EventRegistry::Take(const std::string& name, int64_t now) {
  auto it = queues_.find(name);
  if (it == queues_.end()) {
    if (queues_.size() >= limits_.queues && !byUse_.empty()) {
      Log("%s: Deleting queue \"%s\" to make room for a new one\n", "TakeEventFromQueue", byUse_.front().c_str());
      queues_.erase(byUse_.front());
      byUse_.pop_front();
    }
    byUse_.push_back(name);
    queues_.emplace(name, Queue{log_.next(), now, std::prev(byUse_.end())});
    return nullptr;
  }
  Queue& queue = it->second;
  queue.lastActivity = now;
  byUse_.splice(byUse_.end(), byUse_, queue.use);

  if (queue.next < log_.first()) {
    const std::string lost = std::to_string(log_.first() - queue.next);
    queue.next = log_.first();
    Log("%s: Queue \"%s\" was full, dropped its %s oldest events\n", "TakeEventFromQueue", name.c_str(),
        lost.c_str());
    auto marker = std::make_unique<QueuedEvent>();
    marker->gameId = gameId_;
    marker->eventName = u"EVENTSLOST";
    marker->param1 = Utf8ToWide(lost);
    return marker;
  }
  if (queue.next == log_.next()) return nullptr;
  return std::make_unique<QueuedEvent>(log_.at(queue.next++));
}

// The least recently taken from come first, so the walk stops at the first queue in
// use. A clock set back (a negative idle time) keeps the queue.
void EventRegistry::RemoveIdle(int64_t now) {
  while (!byUse_.empty()) {
    auto it = queues_.find(byUse_.front());
    if (now - it->second.lastActivity <= queueIdleLimit) break;
    Log("%s: Deleting queue \"%s\" after inactivity", "PostEventToQueue", it->first.c_str());
    queues_.erase(it);
    byUse_.pop_front();
  }
  if (queues_.empty()) log_.Clear();
}

// Events that every queue has taken are let go of once per as many posts as there
// are queues, so that a post costs the same however many queues exist.
void EventRegistry::DropTakenEvents() {
  if (++postsSinceTrim_ < queues_.size()) return;
  postsSinceTrim_ = 0;
  uint64_t oldestNeeded = log_.next();
  for (const auto& entry : queues_) oldestNeeded = std::min(oldestNeeded, entry.second.next);
  log_.DropBefore(oldestNeeded);
}

std::vector<std::string> EventRegistry::names() const {
  std::vector<std::string> result;
  for (const auto& entry : queues_) result.push_back(entry.first);
  return result;
}

std::size_t EventRegistry::pending(const std::string& name) const {
  auto it = queues_.find(name);
  if (it == queues_.end()) return 0;
  const uint64_t next = it->second.next;
  if (next < log_.first()) return 1 + (log_.next() - log_.first());
  return log_.next() - next;
}

void EventRegistry::clear() {
  queues_.clear();
  byUse_.clear();
  log_.Clear();
  postsSinceTrim_ = 0;
}
