#include "launcher/supervision.h"

#include <exception>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "common/log.h"
#include "common/sync.h"
#include "events/event_queues.h"
#include "gamelink/game_link.h"
#include "launcher/exit_pause.h"
#include "launcher/game_watch.h"
#include "web/web_server.h"

namespace {
constexpr uint32_t kConnectWaitMs = 120000;
// The page may still poll the last events while the listeners stay up.
constexpr uint32_t kListenerGraceMs = 2500;
// A game that ends closes its pipe a moment before its process is gone, and the game
// link, which waits on the pipe, sees that first: a process that is gone this soon
// after the link ended is the game's end.
constexpr uint32_t kGameEndAfterLinkMs = 100;

// The I/O thread: the game link and every port, until the shutdown stops the service.
// A handler that throws is reported and the service runs on.
uint32_t RunIoService(void* arg) {
  auto& io = *static_cast<boost::asio::io_context*>(arg);
  for (;;) {
    try {
      io.run();
      return 0;
    } catch (const std::exception& e) {
      Log("%s: I/O service failed: %s\n", "WebServerThread", e.what());
    }
  }
}

void WatchGame(HelperState& state) {
  const uint32_t processId = state.gameProcessId;
  uint32_t error = 0;
  GameWatch watch;
  if (!watch.Open(processId, error)) {
    Log("%s: Failed to open pid %d, (%08x)\n", "wWinMain", static_cast<int>(processId), error);
    return;
  }
  Log("%s: Waiting for child to shutdown\n", "wWinMain");
  int result = 0;
  WatchOutcome outcome = watch.Wait(state.gameLinkShutdownEvent, result, error);
  if (outcome == WatchOutcome::ShutdownSignaled && watch.EndsWithin(kGameEndAfterLinkMs)) {
    outcome = WatchOutcome::GameEnded;
  }
  switch (outcome) {
    case WatchOutcome::GameEnded:
      Log("%s: DONE! Child process died\n", "wWinMain");
      state.gameProcessId = 0;
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

int SuperviseGame(HelperState& state, InstanceGuard& guard) {
  state.gameConnectedEvent.Create();
  state.gameLinkShutdownEvent.Create();
  state.gameLinkExitedEvent.Create();
  EventQueues queues(state.gameLinkTarget.gameId);
  WebServer web(state, queues);
  GameLink link(state, queues);
  // The listeners are built first, then the link starts; the service keeps running
  // until the shutdown stops it, whatever each of them does meanwhile.
  auto keepRunning = boost::asio::make_work_guard(state.io);
  boost::asio::post(state.io, [&web] { web.Start(); });
  link.Start();
  Thread ioThread;
  ioThread.Start(RunIoService, &state.io);

  if (state.gameConnectedEvent.Wait(state.testMode ? kWaitForever : kConnectWaitMs) == WaitResult::TimedOut) {
    Log("%s: Waiting on gantry connect timed out\n", "wWinMain");
  } else {
    WatchGame(state);
  }

  link.Stop();
  Log("%s: Waiting for gantry thread shutdown\n", "wWinMain");
  state.gameLinkExitedEvent.Wait(kWaitForever);
  Log("%s: DONE! gantry thread exited\n", "wWinMain");
  SleepMs(kListenerGraceMs);
  boost::asio::post(state.io, [&] { web.Stop([&] { state.io.stop(); }); });
  Log("%s: Waiting for webserver thread shutdown\n", "wWinMain");
  ioThread.Join();
  Log("%s: DONE! webserver thread exited\n", "wWinMain");
  guard.Close();
  return ExitPause();
}
