// The end of a run with a command line: the I/O thread with the game link and the
// HTTP listeners on it, the wait for the game link to know the game, the wait for the
// game or the link to end, and the shutdown in its fixed order. Ends in the exit pause.
#pragma once
#include "launcher/instance_guard.h"
#include "process/helper_state.h"

// guard: held in the active mode, closed at the end of the shutdown.
int SuperviseGame(HelperState& state, InstanceGuard& guard);
