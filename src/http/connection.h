// One accepted connection: read one request head, answer it once, then close
// gracefully. Shared-owned: the registry holds it while it lives, and each pending
// operation holds another owner. A handler may answer later (a parked poll); the
// connection then waits, noticing a client that hangs up meanwhile.
#pragma once
#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "http/deferred_reply.h"
#include "http/reply.h"
#include "http/request.h"
#include "http/request_dispatcher.h"
#include "http/request_scanner.h"
#include "http/server_limits.h"

namespace http {
namespace server {

class connection_registry;

class connection : public std::enable_shared_from_this<connection>, public deferred_reply, public reply_deferral {
 public:
  connection(boost::asio::ip::tcp::socket socket, connection_registry& registry,
             const request_dispatcher& dispatcher, const server_limits& limits);
  connection(const connection&) = delete;
  connection& operator=(const connection&) = delete;

  // Reads what has arrived; a head that is there already is answered at once.
  void start();
  // Closes the socket and drops the timer; pending operations end as aborted.
  void close();

  void answer(int32_t status, const std::string& content_type, const std::string& body) override;
  bool waiting() const override { return at == phase::deferred && socket.is_open(); }
  std::weak_ptr<deferred_reply> defer(std::chrono::milliseconds deadline, deadline_fn on_deadline) override;

 private:
  enum class phase { head, deferred, writing, lingering };

  void begin_read(std::shared_ptr<connection> self);
  void wait_for_bytes(std::shared_ptr<connection> self);
  bool on_received(const boost::system::error_code& error, std::size_t count, std::shared_ptr<connection>& self);
  void send_reply(std::shared_ptr<connection> self);
  void on_sent(const boost::system::error_code& error, const std::shared_ptr<connection>& self);
  void on_head_timeout(const boost::system::error_code& error, const std::shared_ptr<connection>& self);
  void discard_input(std::shared_ptr<connection> self);
  void on_discarded(const boost::system::error_code& error, std::shared_ptr<connection> self);
  void linger(const std::shared_ptr<connection>& self);

  boost::asio::ip::tcp::socket socket;
  connection_registry& registry;
  const request_dispatcher& dispatcher;
  std::array<char, 8192> read_buffer;
  incoming_request current_request;
  request_scanner scanner;
  outgoing_reply current_reply;
  std::string allowed_origin;

  boost::asio::steady_timer timer;  // the head's time-out, then a deferral's deadline, then the linger
  std::chrono::milliseconds head_timeout;
  std::chrono::milliseconds linger_time;
  deadline_fn on_deadline;
  phase at = phase::head;
  bool immediate_io = false;  // the socket never blocks: try reads and writes at once
  bool head_timer_armed = false;
  bool discarding = false;     // a read that throws away what follows the head is pending
  bool more_input = false;     // the client sent, or announced, bytes after its head
  bool input_ended = false;    // the client has stopped sending
  std::vector<boost::asio::const_buffer> reply_ranges;
};

}  // namespace server
}  // namespace http
