// The registry behind the event queues: one first-in, first-out queue per name,
// ordered by byte-wise name. Guarded by eventQueueLock; only event_queues.cpp and
// tests that look inside it touch it.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "events/event_queues.h"

struct EventQueue {
  std::deque<QueuedEvent> pending;
  int64_t lastActivity = 0;  // wall-clock seconds of the creation or the latest take
};

// A queue not taken from for more than this many seconds is removed by a later post.
constexpr int64_t queueIdleLimit = 60;

extern std::map<std::string, EventQueue> eventQueues;
