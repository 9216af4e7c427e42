// What a poll answers for an event: the ten fields in record order (game id, event
// name, the eight parameters), each followed by a tab, as UTF-8. Fields are not
// escaped; the text ends before the first NUL a field may hold.
#pragma once
#include <string>

#include "events/event_queues.h"

std::string EventText(const QueuedEvent& event);
