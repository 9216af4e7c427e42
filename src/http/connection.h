// One accepted connection: read one request head, answer it once, then close
// gracefully. Shared-owned: the registry holds it while it lives, and each pending
// operation holds another owner. A handler may answer later (a parked poll); the
// connection then waits, telling a client that only stopped sending from one that left.
//
// Its life is a short line of states, each entered once, in this order (any of them
// may end early in `closed`):
//   reading_head     reading until the head is complete or cannot be one
//   awaiting_answer  the handler answers later; the client is watched meanwhile
//   writing_reply    the reply is going out
//   draining         sending side shut; what the client still sends is dropped
//   closed           socket closed; late completions find nothing to do
// The one timer bounds the state it was set in: the head's time-out, the answer's
// deadline, the drain's limit. A completion meant for an earlier state is ignored.
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
#include "http/native_socket.h"
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
  // A socket the I/O service already knows.
  connection(boost::asio::ip::tcp::socket socket, connection_registry& registry,
             const request_dispatcher& dispatcher, const server_limits& limits);
  // A non-blocking socket not yet handed to the I/O service: it is only when the
  // connection has to wait.
  connection(native_socket accepted, const boost::asio::any_io_executor& executor, connection_registry& registry,
             const request_dispatcher& dispatcher, const server_limits& limits);
  ~connection();
  connection(const connection&) = delete;
  connection& operator=(const connection&) = delete;

  // Reads what has arrived; a head that is there already is answered at once.
  void start();
  // Closes the socket and drops the timer; pending operations end as aborted.
  void close();

  void answer(int32_t status, const std::string& content_type, const std::string& body) override;
  bool waiting() const override;
  std::weak_ptr<deferred_reply> defer(std::chrono::milliseconds deadline, deadline_fn on_deadline) override;

 private:
  enum class state { reading_head, awaiting_answer, writing_reply, draining, closed };
  // What the client's sending side has shown beyond the head.
  enum class client_input { nothing_more, more, ended };

  // Transitions.
  void read_head();
  void head_ended(scan_result result);
  void write_reply();
  void reply_written();
  void drain();
  void retire();

  // Completions.
  bool take_head_bytes(const boost::system::error_code& error, std::size_t count);
  void wait_for_head();
  void watch_input();
  void on_input(const boost::system::error_code& error);
  void on_timer();
  void arm_timer(std::chrono::milliseconds after);

  bool hand_to_service();
  void client_stopped_sending();
  bool client_gone() const;

  boost::asio::ip::tcp::socket socket;  // open once handed to the I/O service
  native_socket raw;                     // the same socket, for the calls that never wait
  connection_registry& registry;
  const request_dispatcher& dispatcher;
  std::array<char, 8192> read_buffer;
  incoming_request current_request;
  request_scanner scanner;
  outgoing_reply current_reply;
  std::string allowed_origin;

  state at = state::reading_head;
  client_input input = client_input::nothing_more;
  bool reading = false;        // a receive is pending
  bool immediate_io = false;   // the socket never blocks: reads and writes are tried at once
  std::size_t sent_early = 0;  // bytes of the reply already sent to tell a half-closed client from a gone one
  mutable bool gone = false;   // the client is known to have closed its socket

  boost::asio::steady_timer timer;
  bool head_timer_armed = false;
  std::chrono::milliseconds head_timeout;
  std::chrono::milliseconds drain_limit;
  deadline_fn on_deadline;
  std::vector<boost::asio::const_buffer> reply_ranges;
};

}  // namespace server
}  // namespace http
