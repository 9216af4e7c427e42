#include <string>
#include <vector>

#include "common/log.h"
#include "launcher/web_helper.h"
#include "launcher/windows_arguments.h"

// The arguments are written back into one command-line text, quoted so that the
// game, which receives that text split again, sees each one as it was given.
int main(int argc, char** argv) {
  PrepareDiagnostics();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return WebHelperMain(Utf8ToWide(JoinWindowsArguments(args)));
}
