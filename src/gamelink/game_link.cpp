#include "gamelink/game_link.h"

#include <utility>  // before asio's coroutine headers, which use std::exchange without it

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "common/log.h"
#include "gamelink/generic_gantry_command.h"
#include "process/process_tools.h"

namespace {
constexpr const char* kTag = "GantryThread";
// The game may create its pipe long after it starts.
constexpr std::chrono::milliseconds kRetry{100};
constexpr std::size_t kReadSize = 4096;
}  // namespace

struct GameLinkSteps {
  static boost::asio::awaitable<void> Run(GameLink& link);
  static boost::asio::awaitable<bool> Connect(GameLink& link, const std::string& pipePath);
  static boost::asio::awaitable<void> Receive(GameLink& link);
};

GameLink::GameLink(HelperState& state, EventQueues& queues)
    : state(state),
      queues(queues),
      pipe(state.io),
      retry(state.io) {}

void GameLink::Start() { boost::asio::co_spawn(state.io, GameLinkSteps::Run(*this), boost::asio::detached); }

void GameLink::Stop() {
  boost::asio::post(state.io, [this] {
    running = false;
    retry.cancel();
    boost::system::error_code ignored;
    pipe.close(ignored);  // a read in flight ends as aborted
  });
}

boost::asio::awaitable<void> GameLinkSteps::Run(GameLink& link) {
  HelperState& state = link.state;
  const std::string pipePath = WideToUtf8(state.gameLinkTarget.pipePath);
  const std::string executableName = WideToUtf8(state.gameLinkTarget.executableName);
  Log("%s: Looking for game on pipe \"%s\"\n", kTag, pipePath.c_str());
  if (co_await Connect(link, pipePath)) {
    Log("%s: Connected to pipe %s\n", kTag, pipePath.c_str());
    uint32_t processId = 0;
    if (!IsProcessesRunning(state.gameLinkTarget.executableName, processId)) {
      Log("%s: Unable to locate process for child process %s\n", kTag, executableName.c_str());
    } else {
      state.gameProcessId = processId;
      Log("%s: Pid of %s is %d\n", kTag, executableName.c_str(), static_cast<int>(processId));
      state.gameConnectedEvent.Set();
      link.PostState("READY");
      co_await Receive(link);
      link.PostState("GAMEISGONE");
    }
  }
  Log("%s: Signaling Gantry shutdown event\n", kTag);
  state.gameLinkShutdownEvent.Set();
  boost::system::error_code ignored;
  link.pipe.close(ignored);
  state.gameLinkExitedEvent.Set();
}

// True once the pipe is open; false when the link was stopped first.
boost::asio::awaitable<bool> GameLinkSteps::Connect(GameLink& link, const std::string& pipePath) {
  while (link.running) {
    boost::system::error_code error;
    if (OpenGamePipe(link.pipe, pipePath, error)) co_return true;
    link.retry.expires_after(kRetry);
    co_await link.retry.async_wait(boost::asio::redirect_error(boost::asio::use_awaitable, error));
  }
  co_return false;
}

// Until the game closes its end, a read fails, the bytes cannot be frames, or the link
// is stopped.
boost::asio::awaitable<void> GameLinkSteps::Receive(GameLink& link) {
  kiln::CommandHandler handler(new GenericGantryCommand(link.state.gameLinkTarget.gameId, link.queues));
  kiln::ByteVector received;
  std::vector<uint8_t> buffer(kReadSize);
  while (link.running) {
    boost::system::error_code error;
    const std::size_t count = co_await link.pipe.async_read_some(
        boost::asio::buffer(buffer), boost::asio::redirect_error(boost::asio::use_awaitable, error));
    if (error) break;
    received.insert(received.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
    LogBatch lines;  // the frames of one read, and the answers they give
    if (!handler.handleReceivedData(received)) break;
  }
}

void GameLink::PostState(const char* stateName) {
  QueuedEvent event;
  event.gameId = state.gameLinkTarget.gameId;
  event.eventName = Widen("StateChanged");
  event.param1 = Widen(stateName);
  queues.PostEventToQueue(event);
}
