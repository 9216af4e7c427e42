#include "launcher/web_helper.h"

#include <csignal>

#include "common/log.h"
#include "common/sync.h"
#include "common/version.h"
#include "launcher/activation_switch.h"
#include "launcher/debug_console.h"
#include "launcher/diagnostic_box.h"
#include "launcher/game_target.h"
#include "launcher/launch_sequence.h"
#include "launcher/switches.h"
#include "process/helper_state.h"

int WebHelperMain(const WideString& givenCommandLine) {
  HelperState state;
  // From here on neither signal ends the process: they only stop the HTTP servers.
  // A failed registration throws, and start-up ends there.
  state.stopSignals.add(SIGINT);
  state.stopSignals.add(SIGTERM);

  WideString commandLine = givenCommandLine;
  const bool commandLinePresent = !commandLine.empty();
  bool active = TakeActivateSwitch(commandLine);
  if (SwitchIsOn(kSwitchAlwaysActivate)) active = true;

  if (active) {
    Log("%s: WebHelper is ACTIVE\n", "wWinMain");
    for (int i = 0; i < 4; ++i) state.webServerPorts.push_back(4219 + 1000 * i);
  } else {
    Log("%s: WebHelper is PASSIVE\n", "wWinMain");
  }

  if (SwitchIsOn(kSwitchShowMessage)) {
    WideString directory;
    const bool haveDirectory = ReadWorkingDirectory(directory);
    ShowDiagnosticBox(DiagnosticBoxTitle(CurrentProcessId()),
                      DiagnosticBoxText(haveDirectory ? &directory : nullptr, commandLine));
  }

  if (SwitchIsOn(kSwitchDebug)) {
    OpenDebugConsole();
    Log("%s: Running debug mode, showing console\n", "wWinMain");
  }

  Log("%s: My version is %d.%d.%d\n", "wWinMain", kHelperVersionMajor, kHelperVersionMinor, kHelperVersionPatch);

  const GameTarget target = BuildGameTarget();
  Log("Pipe name: %s\n", target.pipeName.c_str());
  Log("Executable: %s\n", target.executableName.c_str());
  Log("GameId: %s\n", target.gameId.c_str());
  Log("Game name: %s\n", target.gameName.c_str());
  const WideString pipeName = Utf8ToWide(target.pipeName);
  const WideString executableName = Utf8ToWide(target.executableName);
  const WideString gameId = Utf8ToWide(target.gameId);
  const WideString gameName = Utf8ToWide(target.gameName);

  if (pipeName.empty() || executableName.empty() || gameId.empty() || gameName.empty()) {
    Log("%s: Please define environment variables (prior to building):\n"
        "TARGET_PIPE_NAME - Suffix name of Gantry pipe for game\n"
        "TARGET_EXECUTABLE_NAME - Name of executable to proxy\n"
        "TARGET_GAME_ID - GameId of game to proxy\n"
        "TARGET_GAME_NAME - Short name of game to proxy. \"TOVEL3\"",
        "wWinMain");
    return -1;
  }

  if (commandLinePresent) {
    state.gameLinkTarget.gameId = gameId;
    state.gameLinkTarget.pipePath = Widen("\\\\.\\pipe\\") + pipeName;
    state.gameLinkTarget.executableName = executableName;
  }

  return LaunchGameAndSupervise(state, commandLinePresent, active, commandLine, executableName);
}
