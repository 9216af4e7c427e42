#include "http/server.h"

#include <memory>
#include <vector>
#include <string>

#include <boost/asio/error.hpp>

#include "common/log.h"
#include "http/connection.h"

namespace http {
namespace server {

server::server(boost::asio::io_context& io, boost::asio::signal_set& stop_signals_, int32_t port,
               const request_dispatcher& dispatcher_, const server_limits& limits_)
    : alive(std::make_shared<server*>(this)),
      stop_signals(stop_signals_),
      acceptor(io),
      next_socket(io),
      dispatcher(dispatcher_),
      limits(limits_),
      accept_retry_timer(io) {
  connections.reserve(64);
  // First, so that even a server that fails to bind stops with the others and keeps
  // the run going until then.
  stop_signals.async_wait([token = std::weak_ptr<server*>(alive)](const boost::system::error_code&, int) {
    if (auto live = token.lock()) (*live)->stop();
  });

  boost::asio::ip::tcp::resolver resolver(io);
  const boost::asio::ip::tcp::endpoint endpoint =
      resolver.resolve("127.0.0.1", std::to_string(port)).begin()->endpoint();
  acceptor.open(endpoint.protocol());
  acceptor.set_option(boost::asio::ip::tcp::acceptor::reuse_address(true));

  boost::system::error_code error;
  acceptor.bind(endpoint, error);
  if (error) {
    Log("%s: Binding of port %d failed with error %s:%d\n", "http::server::server::server", port,
        error.message().c_str(), error.value());
    return;
  }
  acceptor.listen(boost::asio::socket_base::max_listen_connections);
  start_accepting();
}

// Connections still open are closed too rather than left unserved until the process
// ends; completions still queued then find their server or socket gone and do nothing.
server::~server() {
  alive.reset();
  boost::system::error_code ignored;
  next_socket.close(ignored);
  for (const auto& c : connections) c->close();
  acceptor.close(ignored);
}

void server::stop() {
  stopped = true;
  boost::system::error_code ignored;
  acceptor.close(ignored);
  accept_retry_timer.cancel();
  stop_signals.cancel();
  for (auto c = connections.begin(); c != connections.end();) {
    if ((*c)->stop()) {
      ++c;
    } else {
      c = connections.erase(c);
    }
  }
}

void server::admit(const std::shared_ptr<connection>& c) {
  connections.insert(c);
  c->start();
}

// A waiting poll whose socket never had to wait for its head is not watched (see
// connection.h): a client that left it is found out only when looked at.
bool server::make_room() {
  const std::vector<std::shared_ptr<connection>> members(connections.begin(), connections.end());
  for (const auto& c : members) c->waiting();  // a look retires a client that left
  return has_room();
}

void server::retire(const std::shared_ptr<connection>& c) {
  connections.erase(c);
  c->close();
}

uint16_t server::local_port() const {
  boost::system::error_code error;
  const auto endpoint = acceptor.local_endpoint(error);
  return error ? 0 : endpoint.port();
}

// The pending connection stays queued; try again once the cause may have passed
// (descriptors or memory freed) rather than spin on it.
void server::accept_later() {
  accept_retry_timer.expires_after(limits.accept_retry_delay);
  accept_retry_timer.async_wait([token = std::weak_ptr<server*>(alive)](const boost::system::error_code& timer_error) {
    auto live = token.lock();
    if (live && !timer_error && (*live)->acceptor.is_open()) (*live)->accept_next();
  });
}

}  // namespace server
}  // namespace http
