#include "process/process_values.h"

GameLinkTarget gameLinkTarget;
std::atomic<bool> gameLinkRunning{true};
AutoResetEvent gameConnectedEvent;
AutoResetEvent gameLinkShutdownEvent;
AutoResetEvent gameLinkWakeEvent;
std::atomic<uint32_t> gameProcessId{0};
bool testMode = false;
std::vector<int32_t> webServerPorts;
CriticalSection eventQueueLock;
