// One HTTP/1.0 listener on a port of 127.0.0.1: accepts connections and serves each
// with one request and one reply. It stops when the signal set it waits on completes.
// All its work runs on one I/O service.
#pragma once
#include <cstdint>
#include <memory>
#include <unordered_set>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "http/request_dispatcher.h"
#include "http/server_limits.h"

namespace http {
namespace server {

class connection;

class server {
 public:
  // Port 0 binds an ephemeral port (see local_port).
  server(boost::asio::io_context& io, boost::asio::signal_set& stop_signals, int32_t port,
         const request_dispatcher& dispatcher, const server_limits& limits);

  // The hard end: the listener and every connection are closed, replies on their way
  // are cut.
  ~server();
  server(const server&) = delete;
  server& operator=(const server&) = delete;

  // What a stop signal does: the listener closes, every connection closes except those
  // writing their reply, which end once it is out (or at the write time-out). The wait
  // on the stop signals ends too, for every server waiting on them, so that once those
  // replies are out no server holds work and the service's run can return.
  void stop();

  // The bound port, or 0 when binding failed or the server has stopped.
  uint16_t local_port() const;
  std::size_t connection_count() const { return connections.size(); }

  // A connection's end, told by the connection: it is closed and forgotten.
  void retire(const std::shared_ptr<connection>& c);
  bool stopping() const { return stopped; }

 private:
  // How connections are taken differs by system (the accept file of each).
  void start_accepting();
  void accept_next();
  void on_acceptable(const boost::system::error_code& error);
  void admit(const std::shared_ptr<connection>& c);
  // After an accept failed for a reason other than the connection it was taking.
  void accept_later();
  bool has_room() const { return connections.size() < limits.max_connections; }
  // At the bound: the clients of unwatched waiting polls are looked at, and those that
  // left make room. True when there is room then.
  bool make_room();

  // The server's completions reach it only while this lives: the signal set outlives
  // every server, and a failed constructor or the destructor leaves completions queued.
  std::shared_ptr<server*> alive;
  boost::asio::signal_set& stop_signals;
  boost::asio::ip::tcp::acceptor acceptor;
  // Membership keeps an idle connection alive; its pending operations hold further owners.
  std::unordered_set<std::shared_ptr<connection>> connections;
  bool stopped = false;
  boost::asio::ip::tcp::socket next_socket;  // where connections are accepted into, where that is how
  request_dispatcher dispatcher;
  server_limits limits;
  boost::asio::steady_timer accept_retry_timer;
};

}  // namespace server
}  // namespace http
