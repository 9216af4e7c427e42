// Starting the game executable through the system's shell, detached from the helper:
// the helper neither waits for it nor ends it, and it outlives the helper.
#pragma once
#include <cstdint>

#include "common/text.h"

// executable: a file name the system resolves (current directory, then the search
// path); parameters: the game's command-line text. On a failure error holds the
// system's error code.
bool LaunchGame(const WideString& executable, const WideString& parameters, uint32_t& error);
