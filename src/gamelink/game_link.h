// The game link: looks for the game's pipe every 100 ms, learns the game's process id,
// turns what the game writes into events, and tells when the link ends. It runs on the
// I/O service, one coroutine from start to end, so each frame's events are posted, and
// the polls waiting for them answered, in the turn that read it.
#pragma once
#include <string>

#include <boost/asio/steady_timer.hpp>

#include "events/event_queues.h"
#include "gamelink/command_handler.h"
#include "gamelink/game_pipe.h"
#include "process/helper_state.h"

class GameLink {
 public:
  // Uses the state's target, I/O service, process id and link events.
  GameLink(HelperState& state, EventQueues& queues);
  GameLink(const GameLink&) = delete;
  GameLink& operator=(const GameLink&) = delete;

  // Starts the link on the I/O service; it ends by itself when the game goes.
  void Start();
  // From any thread: the link ends soon, wherever it is (the gone event is still
  // posted when the game was up). gameLinkExitedEvent tells when it has.
  void Stop();

 private:
  // The coroutine's steps, kept out of this header so that its includers need no
  // coroutine support.
  friend struct GameLinkSteps;
  void PostState(const char* state);

  HelperState& state;
  EventQueues& queues;
  bool running = true;  // only on the I/O thread
  GamePipe pipe;
  boost::asio::steady_timer retry;
};
