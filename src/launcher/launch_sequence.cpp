#include "launcher/launch_sequence.h"

#include "common/log.h"
#include "common/sync.h"
#include "launcher/exit_pause.h"
#include "launcher/game_launch.h"
#include "launcher/instance_guard.h"
#include "process/process_tools.h"
#include "launcher/sockets_layer.h"
#include "launcher/supervision.h"
#include "launcher/switches.h"

namespace {
// About ten seconds for a game that is still closing to be gone.
constexpr int kRunningChecks = 100;
constexpr uint32_t kRunningCheckPauseMs = 100;

bool GameKeepsRunning(const WideString& executableName) {
  for (int check = 0; check < kRunningChecks; ++check) {
    uint32_t ignored = 0;
    if (!IsProcessesRunning(executableName, ignored)) return false;
    SleepMs(kRunningCheckPauseMs);
  }
  return true;
}
}  // namespace

int LaunchGameAndSupervise(HelperState& state, bool commandLinePresent, bool active, const WideString& commandLine,
                           const WideString& executableName) {
  InstanceGuard guard;
  if (commandLinePresent) {
    if (active) {
      uint32_t error = 0;
      const GuardResult guarded = guard.Acquire(error);
      if (guarded == GuardResult::OpenFailed) {
        Log("%s: Failed to open mutex %d\n", "wWinMain", static_cast<int>(error));
        return ExitPause();
      }
      if (guarded == GuardResult::NotOwned) {
        Log("%s: Could not become mutex owner %d\n", "wWinMain", static_cast<int>(error));
        return ExitPause();
      }
    }
    StartSocketsLayer();
  }

  if (SwitchIsOn(kSwitchTestMode)) {
    state.testMode = true;
  } else {
    const std::string executable = WideToUtf8(executableName);
    Log("%s: Making sure another %s isn't running\n", "wWinMain", executable.c_str());
    if (GameKeepsRunning(executableName)) {
      Log("%s: FATAL ERROR: Another %s is already running, shutting down\n", "wWinMain", executable.c_str());
      return ExitPause();
    }
    Log("Launching:\r\nBinary path: %s\nCommand-line: %s\nWorking dir : %s\n", executable.c_str(),
        WideToUtf8(commandLine).c_str(), "(null)");
    uint32_t error = 0;
    if (!LaunchGame(executableName, commandLine, error)) {
      Log("%s: ShellExecute failed with %d", "wWinMain", static_cast<int>(error));
      return ExitPause();
    }
  }

  if (!commandLinePresent) return ExitPause();
  return SuperviseGame(state, guard);
}
