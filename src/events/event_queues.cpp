#include "events/event_queues.h"

#include "common/log.h"
#include "events/wall_clock.h"

void EventQueues::PostEventToQueue(const QueuedEvent& event) {
  Log("%s: Posting event %s\n", "PostEventToQueue", WideToUtf8(event.eventName).c_str());
  Post(event, WallClockSeconds());
  if (onPosted) onPosted();
}

std::unique_ptr<QueuedEvent> EventQueues::TakeEventFromQueue(const std::string& queueName) {
  return Take(queueName, WallClockSeconds());
}
