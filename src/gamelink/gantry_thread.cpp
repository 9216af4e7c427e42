#include "gamelink/gantry_thread.h"

#include <memory>
#include <string>

#include "common/log.h"
#include "common/sync.h"
#include "common/text.h"
#include "events/event_queues.h"
#include "gamelink/command_handler.h"
#include "gamelink/generic_gantry_command.h"
#include "gamelink/pipe_channel.h"
#include "process/process_tools.h"
#include "process/process_values.h"

namespace {
constexpr const char* kTag = "GantryThread";
constexpr uint32_t kRetryMs = 100;
// The longest wait between two pumps: a completed read or the shutdown's wake-up
// ends it sooner.
constexpr uint32_t kPumpIntervalMs = 100;

QueuedEvent StateChanged(const WideString& gameId, const char* state) {
  QueuedEvent event;
  event.gameId = gameId;
  event.eventName = Widen("StateChanged");
  event.param1 = Widen(state);
  return event;
}
}  // namespace

uint32_t GantryThread(void* arg) {
  const GameLinkTarget& target = *static_cast<const GameLinkTarget*>(arg);
  auto handler = std::make_unique<kiln::CommandHandler>(new GenericGantryCommand(target));
  const std::string pipePath = WideToUtf8(target.pipePath);
  const std::string executableName = WideToUtf8(target.executableName);

  Log("%s: Looking for game on pipe \"%s\"\n", kTag, pipePath.c_str());

  // The game may create its pipe long after it starts: a fresh channel every 100 ms.
  std::unique_ptr<PipeChannel> channel;
  bool connected = false;
  while (gameLinkRunning) {
    channel.reset();
    channel = std::make_unique<PipeChannel>(pipePath, handler.get());
    if (channel->open()) {
      connected = true;
      break;
    }
    gameLinkWakeEvent.Wait(kRetryMs);
  }

  if (connected) {
    Log("%s: Connected to pipe %s\n", kTag, pipePath.c_str());
    uint32_t processId = 0;
    if (!IsProcessesRunning(target.executableName, processId)) {
      Log("%s: Unable to locate process for child process %s\n", kTag, executableName.c_str());
    } else {
      gameProcessId = processId;
      Log("%s: Pid of %s is %d\n", kTag, executableName.c_str(), static_cast<int>(processId));
      gameConnectedEvent.Set();
      PostEventToQueue(StateChanged(target.gameId, "READY"));

      if (channel->pump()) {
        while (gameLinkRunning) {
          channel->wait(gameLinkWakeEvent, kPumpIntervalMs);
          if (!channel->pump()) break;
        }
      }
      PostEventToQueue(StateChanged(target.gameId, "GAMEISGONE"));
    }
  }

  Log("%s: Signaling Gantry shutdown event\n", kTag);
  gameLinkShutdownEvent.Set();
  channel.reset();
  handler.reset();
  return 0;
}
