#include "web/web_server_thread.h"

#include <exception>
#include <list>
#include <memory>

#include <boost/asio/post.hpp>

#include "common/log.h"
#include "events/event_queues.h"
#include "http/server.h"
#include "process/io_service.h"
#include "process/process_values.h"
#include "web/parked_polls.h"
#include "web/web_handlers.h"

void StopWebServerThread() {
  boost::asio::post(ioService, [] {
    AnswerParkedPolls();
    ioService.stop();
  });
}

uint32_t WebServerThread(void*) {
  // Parked polls look again whenever the game link posts an event; set before any
  // poll can park.
  SetEventPostedHook(NotifyEventPosted);
  std::list<std::unique_ptr<http::server::server>> servers;
  for (int32_t port : webServerPorts) {
    // A port that cannot be bound is reported by its server, which is kept like the
    // others; any other set-up failure leaves just that port out.
    try {
      servers.push_back(std::make_unique<http::server::server>(
          ioService, stopSignals, port,
          http::server::request_dispatcher{WebGetRequestHandler, WebPostRequestHandler}, http::server::server_limits{}));
    } catch (const std::exception& e) {
      Log("%s: Server for port %d failed: %s\n", "WebServerThread", port, e.what());
    }
  }

  try {
    ioService.run();
  } catch (const std::exception& e) {
    Log("%s: I/O service failed: %s\n", "WebServerThread", e.what());
  }

  SetEventPostedHook(nullptr);
  while (!servers.empty()) servers.pop_front();
  Log("%s: Exiting\n", "WebServerThread");
  return 0;
}
