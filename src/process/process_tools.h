// Looking for the game process by executable name, and terminating it.
#pragma once
#include <cstdint>

#include "common/text.h"

// True when a process with this executable name runs (ASCII letters compared without
// case, whole name only); its id, the first one the system lists, goes to processId.
bool IsProcessesRunning(const WideString& executableName, uint32_t& processId);

// Terminates the process whose id is in gameProcessId. False when there is none or it
// cannot be opened or terminated.
bool KillChildProcess();
