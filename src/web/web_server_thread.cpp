#include "web/web_server_thread.h"

#include "launcher/io_service.h"

// Placeholder until the HTTP server lands.
uint32_t WebServerThread(void*) {
  ioService.run();
  return 0;
}
