// The wall clock of the event queues, in whole seconds since 1970-01-01 UTC, read
// through one replaceable function so that idle times can be moved without waiting.
#pragma once
#include <cstdint>

using WallClockFunction = int64_t (*)();

int64_t WallClockSeconds();

// nullptr puts the system clock back.
void SetWallClock(WallClockFunction clock);
