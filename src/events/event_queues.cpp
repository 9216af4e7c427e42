#include "events/event_queues.h"

#include <atomic>

#include "common/log.h"
#include "events/event_registry.h"
#include "events/wall_clock.h"
#include "process/process_values.h"

EventRegistry eventQueues;

namespace {
std::atomic<EventPostedHook> eventPostedHook{nullptr};
}

void SetEventPostedHook(EventPostedHook hook) { eventPostedHook = hook; }

void PostEventToQueue(const QueuedEvent& event) {
  Log("%s: Posting event %s\n", "PostEventToQueue", WideToUtf8(event.eventName).c_str());
  const int64_t now = WallClockSeconds();

  {
    ScopedLock hold(eventQueueLock);
    eventQueues.Post(event, now);
  }
  if (EventPostedHook hook = eventPostedHook) hook();
}

std::unique_ptr<QueuedEvent> TakeEventFromQueue(const std::string& queueName) {
  ScopedLock hold(eventQueueLock);
  return eventQueues.Take(queueName, WallClockSeconds());
}
