#include <windows.h>

#include <cstdio>

#include "common/log.h"
#include "launcher/debug_console.h"

void OpenDebugConsole() {
  AllocConsole();
  freopen("CONIN$", "r", stdin);
  freopen("CONOUT$", "wt", stdout);
  freopen("CONOUT$", "wt", stderr);
  PrepareDiagnostics();  // the new stream is buffered again
}
