#include <windows.h>

#include "common/log.h"
#include "launcher/web_helper.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  PrepareDiagnostics();
  return WebHelperMain(commandLine ? reinterpret_cast<const char16_t*>(commandLine) : u"");
}
