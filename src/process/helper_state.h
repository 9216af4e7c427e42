// What the helper keeps for its whole run, in one place: the entry creates it, hands it
// down, and it outlives every thread. Two threads use it: the main thread (start-up,
// supervision, the ordered shutdown) and the I/O thread, which runs the game link and
// every port on `io`. Each value says who writes it and who reads it.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "common/sync.h"
#include "common/text.h"

// Who the game is and where its pipe is.
struct GameLinkTarget {
  WideString gameId;
  WideString pipePath;  // \\.\pipe\ followed by the pipe-name suffix
  WideString executableName;
};

struct HelperState {
  // Written by the main thread before the I/O thread starts; only read after that.
  GameLinkTarget gameLinkTarget;
  bool testMode = false;
  std::vector<int32_t> webServerPorts;

  // The one event loop. The I/O thread runs it and alone touches what completes on it;
  // the main thread only posts to it.
  boost::asio::io_context io;
  // SIGINT and SIGTERM, added by the main thread at start; they stop the HTTP servers only.
  boost::asio::signal_set stopSignals{io};

  // Written by the game link before it sets gameConnectedEvent; read by the main thread
  // after that event, and by the kill endpoint. 0 for none.
  std::atomic<uint32_t> gameProcessId{0};

  // Set by the game link, waited on by the main thread; created by the main thread
  // before the I/O thread starts.
  AutoResetEvent gameConnectedEvent;     // the game's process id is known
  AutoResetEvent gameLinkShutdownEvent;  // the link is ending, on every path
  AutoResetEvent gameLinkExitedEvent;    // the link has let go of the pipe and its handler
};
