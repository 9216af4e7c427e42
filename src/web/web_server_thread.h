// The thread that runs every HTTP listener of webServerPorts on the process-wide
// I/O service until the service is stopped.
#pragma once
#include <cstdint>

// Takes no argument; returns 0.
uint32_t WebServerThread(void* unused);

// From any thread: ends the run of the service on its own thread, after the polls that
// still wait have their answer (their next event or "null"), so that no page sees its
// poll cut off by the ordered shutdown.
void StopWebServerThread();
