#include "launcher/diagnostic_box.h"

#include <string>

#include "common/version.h"

WideString DiagnosticBoxTitle(uint32_t processId) {
  return Widen("TovelWebHelper (pid: ") + Widen(std::to_string(processId).c_str()) + u")";
}

WideString DiagnosticBoxText(const WideString* workingDirectory, const WideString& commandLine) {
  WideString text = Widen("Press CTRL + C to copy to clipboard\r\n");
  text += Widen("Version: ") + Widen(kHelperVersionText) + u"\n";
  if (workingDirectory) text += Widen("Working directory: ") + *workingDirectory + u"\n";
  text += Widen("Command line: \n") + commandLine + u"\n";
  text += Widen("\r\nPress OK to resume\n");
  return text;
}
