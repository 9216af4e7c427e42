// The supervising wait: the game process, opened for waiting only, and the game
// link's shutdown event, whichever is signalled first.
#pragma once
#include <cstdint>

#include "common/sync.h"

enum class WatchOutcome { GameEnded, ShutdownSignaled, Failed };

class GameWatch {
 public:
  GameWatch() = default;
  GameWatch(const GameWatch&) = delete;
  GameWatch& operator=(const GameWatch&) = delete;
  ~GameWatch();

  // On a failure error holds the system's error code.
  bool Open(uint32_t processId, uint32_t& error);
  // Waits without a time-out. When both are signalled the game counts; a shutdown
  // event that wins is consumed. On Failed, result and error are the wait's.
  WatchOutcome Wait(AutoResetEvent& shutdownEvent, int& result, uint32_t& error);
  // Waits for the game alone, up to timeoutMs; true when it has ended.
  bool EndsWithin(uint32_t timeoutMs);

 private:
  intptr_t native_ = -1;
};
