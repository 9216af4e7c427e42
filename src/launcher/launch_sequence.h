// The middle of the run: the single-instance guard (active mode), the check that the
// game is not already running, and the launch; then, with a command line, the
// supervision. Every way out goes through the exit pause.
#pragma once
#include "common/text.h"
#include "process/helper_state.h"

int LaunchGameAndSupervise(HelperState& state, bool commandLinePresent, bool active, const WideString& commandLine,
                           const WideString& executableName);
