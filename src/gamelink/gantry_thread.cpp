#include "gamelink/gantry_thread.h"

#include "common/sync.h"
#include "launcher/process_values.h"

// Placeholder until the game link lands: waits for the shutdown and says so.
uint32_t GantryThread(void*) {
  while (gameLinkRunning) SleepMs(100);
  gameLinkShutdownEvent.Set();
  return 0;
}
