// One event of the game, as the queues hold it and a poll answers it: the game id,
// the frame's name and the first eight words of its payload.
#pragma once
#include "common/text.h"

struct QueuedEvent {
  WideString gameId;
  WideString eventName;
  WideString param1, param2, param3, param4, param5, param6, param7, param8;
};
