// The thread that runs every HTTP listener of webServerPorts on the process-wide
// I/O service until the service is stopped.
#pragma once
#include <cstdint>

// Takes no argument; returns 0.
uint32_t WebServerThread(void* unused);
