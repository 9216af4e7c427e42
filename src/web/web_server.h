// Every HTTP listener of webServerPorts, with the page's endpoints behind them, on the
// one I/O service. It ends (servers destroyed, exit line written) when it is stopped;
// at once when there are no ports; after SIGINT or SIGTERM, once its last connection
// has ended. Runs on the I/O thread.
#pragma once
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <vector>

#include <boost/asio/steady_timer.hpp>

#include "events/event_queues.h"
#include "http/server.h"
#include "process/helper_state.h"
#include "web/web_handlers.h"

class WebServer {
 public:
  WebServer(HelperState& state, EventQueues& queues);
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Builds one server per port, in order, and serves.
  void Start();

  // The polls that still wait get their answer (their next event or "null"), the
  // replies on their way go out, then the servers go; then `done` runs. A reply that
  // cannot be sent within a couple of seconds is cut.
  void Stop(std::function<void()> done);

  bool ended() const { return at == phase::ended; }
  // The bound port of each server, 0 for one that failed to bind; for tests.
  std::vector<uint16_t> LocalPorts() const;
  ParkedPolls& polls() { return endpoints.polls(); }

 private:
  enum class phase { building, serving, winding_down, ended };

  void WindDown();
  void WhenConnectionsEnd();
  void End();

  HelperState& helper;
  WebEndpoints endpoints;
  http::server::request_dispatcher dispatcher;
  std::list<std::unique_ptr<http::server::server>> servers;
  phase at = phase::building;
  boost::asio::steady_timer wind_down_timer;
  std::chrono::steady_clock::time_point give_up_at;
  std::function<void()> on_end;
};
