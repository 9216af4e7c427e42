// Looking for the game process by executable name, and terminating it.
#pragma once
#include <cstdint>

#include "common/text.h"

// True when a process with this executable name runs (ASCII letters compared without
// case, whole name only); its id, the first one the system lists, goes to processId.
bool IsProcessesRunning(const WideString& executableName, uint32_t& processId);

// Terminates the game, whose id the game link learnt. False when there is none (0) or
// it cannot be opened or terminated.
bool KillChildProcess(uint32_t pid);
