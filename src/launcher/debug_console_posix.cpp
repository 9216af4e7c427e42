#include "launcher/debug_console.h"

void OpenDebugConsole() {}
