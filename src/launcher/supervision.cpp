#include "launcher/supervision.h"

#include "common/log.h"
#include "common/sync.h"
#include "gamelink/gantry_thread.h"
#include "launcher/exit_pause.h"
#include "launcher/game_watch.h"
#include "process/process_values.h"
#include "web/web_server_thread.h"

namespace {
constexpr uint32_t kConnectWaitMs = 120000;
// The page may still poll the last events while the listeners stay up.
constexpr uint32_t kListenerGraceMs = 2500;
// A game that ends closes its pipe a moment before its process is gone, and the game
// link, which waits on the pipe, sees that first: a process that is gone this soon
// after the link ended is the game's end.
constexpr uint32_t kGameEndAfterLinkMs = 100;

void WatchGame() {
  const uint32_t processId = gameProcessId;
  uint32_t error = 0;
  GameWatch watch;
  if (!watch.Open(processId, error)) {
    Log("%s: Failed to open pid %d, (%08x)\n", "wWinMain", static_cast<int>(processId), error);
    return;
  }
  Log("%s: Waiting for child to shutdown\n", "wWinMain");
  int result = 0;
  WatchOutcome outcome = watch.Wait(gameLinkShutdownEvent, result, error);
  if (outcome == WatchOutcome::ShutdownSignaled && watch.EndsWithin(kGameEndAfterLinkMs)) {
    outcome = WatchOutcome::GameEnded;
  }
  switch (outcome) {
    case WatchOutcome::GameEnded:
      Log("%s: DONE! Child process died\n", "wWinMain");
      gameProcessId = 0;
      break;
    case WatchOutcome::ShutdownSignaled:
      Log("%s: DONE! Gantry shutdown event signaled\n", "wWinMain");
      break;
    case WatchOutcome::Failed:
      Log("%s: WaitForMultipleObjects failed with result %d (%08x)\n", "wWinMain", result, error);
      break;
  }
}
}  // namespace

int SuperviseGame(InstanceGuard& guard) {
  gameConnectedEvent.Create();
  gameLinkShutdownEvent.Create();
  gameLinkWakeEvent.Create();
  Thread webServer;
  Thread gameLink;
  webServer.Start(WebServerThread, nullptr);
  gameLink.Start(GantryThread, &gameLinkTarget);

  if (gameConnectedEvent.Wait(testMode ? kWaitForever : kConnectWaitMs) == WaitResult::TimedOut) {
    Log("%s: Waiting on gantry connect timed out\n", "wWinMain");
  } else {
    WatchGame();
  }

  gameLinkRunning = false;
  gameLinkWakeEvent.Set();
  Log("%s: Waiting for gantry thread shutdown\n", "wWinMain");
  gameLink.Join();
  Log("%s: DONE! gantry thread exited\n", "wWinMain");
  SleepMs(kListenerGraceMs);
  StopWebServerThread();
  Log("%s: Waiting for webserver thread shutdown\n", "wWinMain");
  webServer.Join();
  Log("%s: DONE! webserver thread exited\n", "wWinMain");
  eventQueueLock.Delete();
  guard.Close();
  return ExitPause();
}
