#include <unistd.h>

#include <cstdio>

#include "common/log.h"
#include "launcher/diagnostic_box.h"

// No window system to rely on: the box is written to standard error, and confirmed
// with the Enter key when someone is at a terminal.

bool ReadWorkingDirectory(WideString& directory) {
  char buffer[4096];
  if (!getcwd(buffer, sizeof buffer)) return false;
  directory = Utf8ToWide(buffer);
  return true;
}

void ShowDiagnosticBox(const WideString& title, const WideString& text) {
  Log("%s\n%s", WideToUtf8(title).c_str(), WideToUtf8(text).c_str());
  if (!isatty(STDIN_FILENO)) return;
  int c;
  do {
    c = getchar();
  } while (c != '\n' && c != EOF);
}
