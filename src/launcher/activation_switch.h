// The command-line switch that selects the active mode, and its removal from the
// text that is passed on to the game.
#pragma once
#include "common/text.h"

// The 20 characters looked for, case-sensitively, anywhere in the command line.
extern const char kActivateSwitch[];

// True when the switch occurs in commandLine; its first occurrence is then cut out,
// exactly those characters, leaving whatever stood around it (spaces included).
bool TakeActivateSwitch(WideString& commandLine);
