// One accepted connection: read one request head, answer it once, then close
// gracefully. Shared-owned: its server holds it while it lives, and each pending
// operation holds another owner. A handler may answer later (a parked poll); the
// connection then waits, telling a client that only stopped sending from one that left.
//
// Its life is a short line of states, each entered once, in this order (any of them
// may end early in `closed`):
//   reading_head     the head is read from what has arrived, without waiting
//   awaiting_head    the socket waits with the I/O service; the head's time-out runs
//   awaiting_answer  the handler answers later; the client is watched meanwhile
//   writing_reply    the reply goes out; what the socket does not take at once is
//                    written by the service within the write time-out
//   draining         sending side shut; what the client still sends is dropped
//   closed           socket closed; late completions find nothing to do
// The one timer bounds the state it was set in: the head's time-out, the answer's
// deadline, the write's time-out, the drain's limit. A completion meant for an earlier
// state is ignored.
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

class server;

class connection final : public std::enable_shared_from_this<connection>, public deferred_reply, public reply_deferral {
 public:
  // `raw` is the accepted socket, non-blocking. `socket` is the same socket where the
  // I/O service knows it already (Windows), or else an unopened socket of the service:
  // the socket is handed to the service only when the connection has to wait.
  connection(boost::asio::ip::tcp::socket socket, native_socket raw, server& owner,
             const request_dispatcher& dispatcher, const server_limits& limits);
  ~connection();
  connection(const connection&) = delete;
  connection& operator=(const connection&) = delete;

  // Reads what has arrived; a head that is there already is answered at once.
  void start();
  // Closes the socket and drops the timer; pending operations end as aborted.
  void close();
  // The server stops: true while the reply is still going out (the connection then
  // ends once it is out); otherwise the connection is closed.
  bool stop();

  void answer(int32_t status, const std::string& content_type, const std::string& body) override;
  bool waiting() const override;
  std::weak_ptr<deferred_reply> defer(std::chrono::milliseconds deadline, deadline_fn on_deadline) override;

 private:
  enum class state { reading_head, awaiting_head, awaiting_answer, writing_reply, draining, closed };
  // What the client's sending side has shown beyond the head.
  enum class client_input {
    quiet,   // nothing
    looked,  // nothing, as looked at just now
    more,    // bytes: a body or the rest of a bad head, never read as a request
    ended,   // the end of its input
    probed,  // ended, and the reply's first bytes are out to learn whether it left
    gone,    // those bytes were answered with a reset
  };

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
  void look_at_client();
  void drop_unread();

  boost::asio::ip::tcp::socket socket;  // open once handed to the I/O service
  native_socket raw;                     // the same socket, for the calls that never wait
  server& owner;
  const request_dispatcher& dispatcher;
  const server_limits& limits;
  std::array<char, 8192> read_buffer;
  incoming_request current_request;
  request_scanner scanner;
  outgoing_reply current_reply;
  std::string allowed_origin;
  std::vector<boost::asio::const_buffer> reply_ranges;

  state at = state::reading_head;
  mutable client_input input = client_input::quiet;  // `gone` is learnt when asked
  bool watching = false;                             // a read that watches the client is pending
  boost::asio::steady_timer timer;
  deadline_fn on_deadline;
};

}  // namespace server
}  // namespace http
