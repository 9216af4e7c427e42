// The events that the game link raises and the named queues from which the web
// page polls them. One queue per name, created by its first take; every post reaches
// each existing queue; a queue idle for more than 60 seconds is removed by a later
// post. The queues are bounded (event_registry.h): a page that falls too far behind
// learns how many events it lost from an "EVENTSLOST" event.
#pragma once
#include <memory>
#include <string>

#include "common/text.h"

struct QueuedEvent {
  WideString gameId;
  WideString eventName;
  WideString param1, param2, param3, param4, param5, param6, param7, param8;
};

// Puts the event at the tail of every queue, then removes the idle queues.
void PostEventToQueue(const QueuedEvent& event);

// Called after every post, on the posting thread and outside the lock, so that
// whoever waits for events can look again. Null for nobody.
using EventPostedHook = void (*)();
void SetEventPostedHook(EventPostedHook hook);

// The oldest event of the named queue, or nothing; creates the queue when the name is new.
std::unique_ptr<QueuedEvent> TakeEventFromQueue(const std::string& queueName);
