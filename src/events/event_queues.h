// The named queues of one run, as the game link and the web endpoints use them: one
// queue per name, created by its first take; every post reaches each existing queue; a
// queue idle for more than 60 seconds is removed by a later post. The queues are
// bounded (event_registry.h): a page that falls too far behind learns how many events
// it lost from an "EVENTSLOST" event. Posts and takes all run on the I/O thread, so
// nothing here locks, and a post tells its listener at once.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "events/event_registry.h"
#include "events/queued_event.h"

class EventQueues : public EventRegistry {
 public:
  using EventRegistry::EventRegistry;

  // Puts the event at the tail of every queue, removes the idle queues, then tells
  // onPosted.
  void PostEventToQueue(const QueuedEvent& event);

  // The oldest event of the named queue, or nothing; creates the queue when the name is new.
  std::unique_ptr<QueuedEvent> TakeEventFromQueue(const std::string& queueName);

  // Told after every post, so that polls waiting for events look again. Empty for nobody.
  std::function<void()> onPosted;
};
