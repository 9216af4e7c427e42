// One HTTP/1.0 listener on a port of 127.0.0.1: accepts connections and serves each
// with one request and one reply. It stops itself (listener and connections closed)
// when the signal set it waits on completes. All its work runs on one I/O service.
#pragma once
#include <cstdint>
#include <memory>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "http/connection_registry.h"
#include "http/request_dispatcher.h"
#include "http/server_limits.h"

namespace http {
namespace server {

class server {
 public:
  // The helper's listener: the process-wide I/O service and signal set, the web
  // endpoints' handlers, the production limits.
  explicit server(int32_t port);

  // Port 0 binds an ephemeral port (see local_port).
  server(boost::asio::io_context& io, boost::asio::signal_set& stop_signals, int32_t port,
         const request_dispatcher& dispatcher, const server_limits& limits);

  ~server();
  server(const server&) = delete;
  server& operator=(const server&) = delete;

  // What a stop signal does: close the listener, then every connection.
  void stop();

  // The bound port, or 0 when binding failed or the server has stopped.
  uint16_t local_port() const;
  std::size_t connection_count() const { return registry.size(); }

 private:
  // How connections are taken differs by system (the accept file of each).
  void start_accepting();
  void accept_next();
  void on_acceptable(const boost::system::error_code& error);
  // After an accept failed for want of descriptors or memory.
  void accept_later();
  bool has_room() const { return registry.size() < limits.max_connections; }

  // The server's completions reach it only while this lives: the signal set outlives
  // every server, and a failed constructor or the destructor leaves completions queued.
  std::shared_ptr<server*> alive;
  boost::asio::signal_set& stop_signals;
  boost::asio::ip::tcp::acceptor acceptor;
  connection_registry registry;
  boost::asio::ip::tcp::socket next_socket;  // where connections are accepted into, where that is how
  request_dispatcher dispatcher;
  server_limits limits;
  boost::asio::steady_timer accept_retry_timer;
};

// Accept errors that mean the system is short of descriptors or memory: retrying at
// once would only spin.
bool is_resource_shortage(const boost::system::error_code& error);

}  // namespace server
}  // namespace http
