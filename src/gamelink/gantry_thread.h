// The game link thread: connects to the game's pipe, learns the game's process id,
// turns what the game writes into events, and tells when the link ends.
#pragma once
#include <cstdint>

// arg: the GameLinkTarget. Always returns 0.
uint32_t GantryThread(void* arg);
