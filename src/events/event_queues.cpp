#include "events/event_queues.h"

#include <atomic>

#include "common/log.h"
#include "events/event_registry.h"
#include "events/wall_clock.h"
#include "process/process_values.h"

std::map<std::string, EventQueue> eventQueues;

namespace {
std::atomic<EventPostedHook> eventPostedHook{nullptr};
}

void SetEventPostedHook(EventPostedHook hook) { eventPostedHook = hook; }

void PostEventToQueue(const QueuedEvent& event) {
  Log("%s: Posting event %s\n", "PostEventToQueue", WideToUtf8(event.eventName).c_str());
  const int64_t now = WallClockSeconds();

  {
    ScopedLock hold(eventQueueLock);
    for (auto& entry : eventQueues) entry.second.pending.push_back(event);

    // One removal per post, the first idle queue in name order; a clock set back
    // (a negative idle time) keeps every queue.
    for (auto it = eventQueues.begin(); it != eventQueues.end(); ++it) {
      if (now - it->second.lastActivity > queueIdleLimit) {
        Log("%s: Deleting queue \"%s\" after inactivity", "PostEventToQueue", it->first.c_str());
        eventQueues.erase(it);
        break;
      }
    }
  }
  if (EventPostedHook hook = eventPostedHook) hook();
}

std::unique_ptr<QueuedEvent> TakeEventFromQueue(const std::string& queueName) {
  ScopedLock hold(eventQueueLock);
  EventQueue& queue = eventQueues[queueName];
  queue.lastActivity = WallClockSeconds();
  if (queue.pending.empty()) return nullptr;
  auto event = std::make_unique<QueuedEvent>(std::move(queue.pending.front()));
  queue.pending.pop_front();
  return event;
}
