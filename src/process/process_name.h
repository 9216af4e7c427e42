// When a listed process counts as the game: its executable name, less any folder
// part (up to the last backslash), equals the wanted name over the whole length,
// with the letters A to Z compared without case and every other character exactly.
#pragma once
#include "common/text.h"

bool ProcessNameMatches(const WideString& listedName, const WideString& wantedName);
