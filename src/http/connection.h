// One accepted connection: read one request head, answer it once, shut down and
// close. Shared-owned: the registry holds it while it lives, and each pending
// operation holds another owner.
#pragma once
#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "http/reply.h"
#include "http/request.h"
#include "http/request_dispatcher.h"
#include "http/request_scanner.h"

namespace http {
namespace server {

class connection_registry;

class connection : public std::enable_shared_from_this<connection> {
 public:
  connection(boost::asio::ip::tcp::socket socket, connection_registry& registry,
             const request_dispatcher& dispatcher, std::size_t max_request_head,
             std::chrono::milliseconds head_timeout);
  connection(const connection&) = delete;
  connection& operator=(const connection&) = delete;

  // Reads what has arrived; a head that is there already is answered at once.
  void start();
  // Closes the socket and drops the timer; pending operations end as aborted.
  void close();

 private:
  void begin_read(std::shared_ptr<connection> self);
  void wait_for_bytes(std::shared_ptr<connection> self);
  bool on_received(const boost::system::error_code& error, std::size_t count, std::shared_ptr<connection>& self);
  void send_reply(std::shared_ptr<connection> self);
  void on_sent(const boost::system::error_code& error, const std::shared_ptr<connection>& self);
  void on_head_timeout(const boost::system::error_code& error, const std::shared_ptr<connection>& self);

  boost::asio::ip::tcp::socket socket;
  connection_registry& registry;
  const request_dispatcher& dispatcher;
  std::array<char, 8192> read_buffer;
  incoming_request current_request;
  request_scanner scanner;
  outgoing_reply current_reply;

  boost::asio::steady_timer head_timer;
  std::chrono::milliseconds head_timeout;
  bool immediate_io = false;  // the socket never blocks: try reads and writes at once
  bool head_timer_armed = false;
  bool head_complete = false;
  std::vector<boost::asio::const_buffer> reply_ranges;
};

}  // namespace server
}  // namespace http
