// The values shared by the main thread, the game link thread and the web server
// thread. They exist from program load to the end of the process.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "common/sync.h"
#include "common/text.h"

// The game link thread's argument: who the game is and where its pipe is.
struct GameLinkTarget {
  WideString gameId;
  WideString pipePath;  // \\.\pipe\ followed by the pipe-name suffix
  WideString executableName;
};

extern GameLinkTarget gameLinkTarget;
extern std::atomic<bool> gameLinkRunning;          // true until the shutdown clears it
extern AutoResetEvent gameConnectedEvent;          // the game link knows the game's process id
extern AutoResetEvent gameLinkShutdownEvent;       // the game link thread is ending
extern AutoResetEvent gameLinkWakeEvent;           // set with gameLinkRunning turning false: the link looks at once
extern std::atomic<uint32_t> gameProcessId;        // 0 for none
extern bool testMode;
extern std::vector<int32_t> webServerPorts;
extern CriticalSection eventQueueLock;
