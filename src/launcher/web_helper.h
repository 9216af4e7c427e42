// The helper's whole run, from its command line to the process exit code, the same on
// every build: start-up and run mode here, then the launch and, with a command line,
// the supervision and the ordered shutdown. Each system's entry point only hands it
// the command line (the text that follows the program name).
#pragma once
#include "common/text.h"

int WebHelperMain(const WideString& commandLine);
