#include <windows.h>
#include <shellapi.h>

#include "common/text.h"
#include "demo_game.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  DemoProcess self;
  self.pid = GetCurrentProcessId();
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; argv && i < argc; ++i) self.args.push_back(WideToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  LocalFree(argv);
  return RunDemoGame(self);
}
