#include "launcher/exit_pause.h"

#include <cstdio>

#include "common/log.h"
#include "launcher/switches.h"

int ExitPause() {
  if (SwitchIsOn(kSwitchWaitOnExit)) {
    Log("\n\n================== DETATCHED! ===================\nPress any key to exit!\n");
    getchar();  // returns at once when no input is connected
  }
  return 0;
}
