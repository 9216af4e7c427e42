#include <windows.h>

#include "launcher/diagnostic_box.h"

bool ReadWorkingDirectory(WideString& directory) {
  wchar_t buffer[1024];
  const DWORD n = GetCurrentDirectoryW(1024, buffer);
  if (n == 0 || n >= 1024) return false;
  directory.assign(reinterpret_cast<const char16_t*>(buffer), n);
  return true;
}

void ShowDiagnosticBox(const WideString& title, const WideString& text) {
  MessageBoxW(GetConsoleWindow(), reinterpret_cast<const wchar_t*>(text.c_str()),
              reinterpret_cast<const wchar_t*>(title.c_str()), MB_OK);
}
