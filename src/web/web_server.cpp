#include "web/web_server.h"

#include <exception>
#include <utility>

#include "common/log.h"

namespace {
// How long replies already on their way may take to go out once the servers stop.
constexpr std::chrono::milliseconds kReplyGrace{2000};
constexpr std::chrono::milliseconds kConnectionCheck{10};
}  // namespace

WebServer::WebServer(HelperState& state, EventQueues& queues)
    : helper(state),
      endpoints(state.gameLinkTarget.gameId, state.gameProcessId, queues),
      dispatcher{[this](const std::string& uri, std::string& type, std::string& body,
                        http::server::reply_deferral& later) {
                   return endpoints.WebGetRequestHandler(uri, type, body, later);
                 },
                 [this](const std::string& uri, const std::string& content, std::string& type, std::string& body) {
                   return endpoints.WebPostRequestHandler(uri, content, type, body);
                 }},
      wind_down_timer(state.io) {}

std::vector<uint16_t> WebServer::LocalPorts() const {
  std::vector<uint16_t> ports;
  for (auto& s : servers) ports.push_back(s->local_port());
  return ports;
}

void WebServer::Start() {
  for (int32_t port : helper.webServerPorts) {
    // A port that cannot be bound is reported by its server, which is kept like the
    // others; any other set-up failure leaves just that port out.
    try {
      servers.push_back(std::make_unique<http::server::server>(helper.io, helper.stopSignals, port, dispatcher,
                                                               http::server::server_limits{}));
    } catch (const std::exception& e) {
      Log("%s: Server for port %d failed: %s\n", "WebServerThread", port, e.what());
    }
  }
  if (servers.empty()) {
    End();
    return;
  }
  at = phase::serving;
  // Each server stops itself at a signal; this one waits for their connections to end.
  helper.stopSignals.async_wait([this](const boost::system::error_code& error, int) {
    if (!error && at == phase::serving) WindDown();
  });
}

void WebServer::Stop(std::function<void()> done) {
  on_end = std::move(done);
  if (at == phase::ended) {
    End();
    return;
  }
  endpoints.polls().AnswerParkedPolls();
  if (at != phase::winding_down) WindDown();
}

void WebServer::WindDown() {
  at = phase::winding_down;
  for (auto& s : servers) s->stop();
  give_up_at = std::chrono::steady_clock::now() + kReplyGrace;
  WhenConnectionsEnd();
}

void WebServer::WhenConnectionsEnd() {
  std::size_t open = 0;
  for (auto& s : servers) open += s->connection_count();
  if (open == 0 || std::chrono::steady_clock::now() >= give_up_at) {
    End();
    return;
  }
  wind_down_timer.expires_after(kConnectionCheck);
  wind_down_timer.async_wait([this](const boost::system::error_code& error) {
    if (!error) WhenConnectionsEnd();
  });
}

void WebServer::End() {
  if (at != phase::ended) {
    at = phase::ended;
    servers.clear();
    Log("%s: Exiting\n", "WebServerThread");
  }
  if (on_end) std::exchange(on_end, nullptr)();
}
