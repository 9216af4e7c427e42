#include "events/wall_clock.h"

#include <atomic>
#include <chrono>

namespace {
int64_t SystemSeconds() {
  using namespace std::chrono;
  return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::atomic<WallClockFunction> currentClock{SystemSeconds};
}  // namespace

int64_t WallClockSeconds() { return currentClock.load()(); }

void SetWallClock(WallClockFunction clock) { currentClock.store(clock ? clock : SystemSeconds); }
