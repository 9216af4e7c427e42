// The diagnostic message box shown at start on request: who this helper is, where it
// runs and what command line it passes on. It blocks until the user confirms.
#pragma once
#include <cstdint>

#include "common/text.h"

WideString DiagnosticBoxTitle(uint32_t processId);
// workingDirectory: nullptr when it cannot be read (its line is then left out).
WideString DiagnosticBoxText(const WideString* workingDirectory, const WideString& commandLine);

// The current directory; false when it cannot be read.
bool ReadWorkingDirectory(WideString& directory);

void ShowDiagnosticBox(const WideString& title, const WideString& text);
