#include "http/connection.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>

#include "common/log.h"
#include "http/server.h"

namespace http {
namespace server {

namespace {

// Every status line begins so, whatever the answer will be.
constexpr std::string_view kReplyStart = "HTTP/1.0 ";

bool same_name(const std::string& name, const char* wanted) {
  std::size_t i = 0;
  for (; i < name.size() && wanted[i]; ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(static_cast<unsigned char>(wanted[i]))) return false;
  }
  return i == name.size() && !wanted[i];
}

// A head that announces a body: its bytes follow, and are never read as a request.
bool announces_body(const incoming_request& request) {
  for (const header_field& f : request.fields) {
    if (same_name(f.name, "Content-Length")) return f.value != "0";
    if (same_name(f.name, "Transfer-Encoding")) return true;
  }
  return false;
}

// Drops the first `count` bytes of the ranges.
void consume(std::vector<boost::asio::const_buffer>& ranges, std::size_t count) {
  auto range = ranges.begin();
  while (range != ranges.end() && count >= range->size()) {
    count -= range->size();
    ++range;
  }
  if (range != ranges.end()) *range += count;
  ranges.erase(ranges.begin(), range);
}

}  // namespace

connection::connection(boost::asio::ip::tcp::socket socket_, native_socket raw_, server& owner_,
                       const request_dispatcher& dispatcher_, const server_limits& limits_)
    : socket(std::move(socket_)),
      raw(raw_),
      owner(owner_),
      dispatcher(dispatcher_),
      limits(limits_),
      scanner(limits_.max_request_head),
      timer(socket.get_executor()) {
  current_request.fields.reserve(8);
}

connection::~connection() {
  if (at != state::closed && !socket.is_open()) close_now(raw);
}

// ---- Transitions ----

// Reads and writes are first tried at once, without waiting: a head usually arrives
// with the connection and in one piece, and a reply fits the socket's buffer. Only
// when the socket has nothing to give, or takes no more, does the connection wait.
void connection::start() { read_head(); }

// False when the service would not take it; the connection is then retired.
bool connection::hand_to_service() {
  if (socket.is_open()) return true;
  boost::system::error_code error;
  socket.assign(boost::asio::ip::tcp::v4(), raw, error);
  if (!error) socket.non_blocking(true, error);
  if (error) {
    retire();
    return false;
  }
  return true;
}

void connection::read_head() {
  for (;;) {
    boost::system::error_code error;
    const std::size_t count = receive_now(raw, read_buffer.data(), read_buffer.size(), error);
    if (error == boost::asio::error::would_block) break;
    if (!take_head_bytes(error, count)) return;
  }
  wait_for_head();
}

// reading_head or awaiting_head -> awaiting_answer (through defer), writing_reply.
void connection::head_ended(scan_result result) {
  if (result == scan_result::malformed) {
    input = client_input::more;  // the rest of a bad head may still be on its way
    current_reply = canned_reply(400);
  } else if (!dispatcher.dispatch(current_request, current_reply, *this, allowed_origin)) {
    // Parked by defer(), perhaps answered already. A socket still outside the I/O
    // service is not watched meanwhile: it is looked at when its answer is due, which
    // spares a parked poll the registration with the service.
    if (at != state::closed && !watching && socket.is_open()) watch_input();
    return;
  }
  write_reply();
}

// -> awaiting_answer, from inside the handler.
std::weak_ptr<deferred_reply> connection::defer(std::chrono::milliseconds deadline, deadline_fn on_deadline_) {
  at = state::awaiting_answer;
  on_deadline = std::move(on_deadline_);
  arm_timer(deadline);
  return std::weak_ptr<deferred_reply>(shared_from_this());
}

// awaiting_answer -> writing_reply.
void connection::answer(int32_t status, const std::string& content_type, const std::string& body) {
  // Whoever answers has just asked waiting(); asking again would cost another look.
  if (at != state::awaiting_answer || input == client_input::gone) return;
  on_deadline = nullptr;
  finish(status, content_type, body, allowed_origin, current_reply);
  write_reply();
}

// One gathered write; what the socket does not take at once follows asynchronously.
// Every timer of the earlier states is replaced or cancelled on the way out.
void connection::write_reply() {
  at = state::writing_reply;
  serialize(current_reply, reply_ranges);
  if (input == client_input::probed) consume(reply_ranges, kReplyStart.size());
  WriteHeldLines();  // the request's lines are in the file before its reply is out
  boost::system::error_code error;
  consume(reply_ranges, send_now(raw, reply_ranges, /*end_follows=*/true, error));
  if (error && error != boost::asio::error::would_block) {
    retire();
    return;
  }
  if (reply_ranges.empty()) {
    reply_written();
    return;
  }
  if (!hand_to_service()) return;
  arm_timer(limits.write_timeout);
  boost::asio::async_write(socket, reply_ranges,
                           [this, self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
                             if (at != state::writing_reply) return;
                             if (error) {
                               retire();
                             } else {
                               reply_written();
                             }
                           });
}

// writing_reply -> draining, closed. Closing a socket that still holds unread bytes
// resets the connection, and the client may lose the reply it was just sent. So when
// bytes may still come, only the sending side is shut and what comes is dropped.
void connection::reply_written() {
  const bool may_send_more =
      input == client_input::more || (input == client_input::quiet && bytes_waiting(raw) > 0);
  // `looked`: nothing had come a moment ago, when the answer was due.
  if (may_send_more) {
    drain();
    return;
  }
  retire();  // closing a socket with nothing unread ends both directions gracefully
}

// writing_reply -> draining: until the client stops sending, or for a bounded time.
// A stopping server lingers for no one: what is unread now is dropped, and a client
// that sends more after the close gets a reset.
void connection::drain() {
  if (owner.stopping()) {
    drop_unread();
    retire();
    return;
  }
  at = state::draining;
  shutdown_now(raw, boost::asio::socket_base::shutdown_send);
  arm_timer(limits.linger_time);
  if (!watching) watch_input();
}

// any -> closed.
void connection::retire() { owner.retire(shared_from_this()); }

void connection::close() {
  if (at != state::closed) {
    boost::system::error_code ignored;
    if (socket.is_open()) {
      socket.close(ignored);
    } else {
      close_now(raw);
    }
  }
  at = state::closed;
  timer.cancel();
  on_deadline = nullptr;
}

bool connection::stop() {
  if (at == state::writing_reply) return true;
  if (at == state::draining) drop_unread();
  close();
  return false;
}

void connection::drop_unread() {
  std::size_t unread = bytes_waiting(raw);
  boost::system::error_code error;
  while (unread > 0 && !error) {
    unread -= std::min(unread, receive_now(raw, read_buffer.data(), read_buffer.size(), error));
  }
}

// ---- Completions ----

// False once the head has ended one way or another.
bool connection::take_head_bytes(const boost::system::error_code& error, std::size_t count) {
  if (at != state::reading_head && at != state::awaiting_head) return false;
  if (error) {
    // Gone before its head was complete: nothing to answer.
    if (error != boost::asio::error::operation_aborted) retire();
    return false;
  }
  const char* first = read_buffer.data();
  const scan_outcome outcome = scan(scanner, current_request, first, first + count);
  if (outcome.result == scan_result::need_more) return true;
  if (outcome.result == scan_result::complete &&
      (outcome.next != first + count || announces_body(current_request))) {
    input = client_input::more;
  }
  head_ended(outcome.result);
  return false;
}

// reading_head -> awaiting_head, the first time the head has to be waited for.
void connection::wait_for_head() {
  if (!hand_to_service()) return;
  if (at == state::reading_head) {
    at = state::awaiting_head;
    arm_timer(limits.head_timeout);
  }
  socket.async_read_some(boost::asio::buffer(read_buffer),
                         [this, self = shared_from_this()](const boost::system::error_code& error, std::size_t count) {
                           if (take_head_bytes(error, count)) read_head();
                         });
}

// After the head, what the client sends is never a request: it is read only to learn
// whether the client still sends, stopped, or left, and then dropped.
void connection::watch_input() {
  if (!hand_to_service()) return;
  watching = true;
  socket.async_read_some(boost::asio::buffer(read_buffer),
                         [this, self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
                           watching = false;
                           on_input(error);
                         });
}

void connection::on_input(const boost::system::error_code& error) {
  if (at == state::closed || error == boost::asio::error::operation_aborted) return;
  if (!error) {
    if (input == client_input::quiet) input = client_input::more;
    watch_input();
  } else if (error != boost::asio::error::eof) {
    retire();  // reset: the client is gone, whatever it was waiting for
  } else {
    input = client_input::ended;
    if (at == state::awaiting_answer && can_tell_half_close) {
      client_stopped_sending();
    } else if (at != state::writing_reply) {
      retire();  // the reply on its way ends the connection itself
    }
  }
}

// Whatever the state, its time is up; an awaited answer is the handler's to give first.
// A reply the client has not taken in time is cut with a reset, so the system drops it
// rather than hold it for a client that does not read.
void connection::on_timer() {
  if (at == state::awaiting_answer && waiting()) {
    deadline_fn late = std::move(on_deadline);
    late(*this);
    if (at != state::awaiting_answer) return;  // answered; otherwise left unanswered
  }
  if (at == state::writing_reply) {
    boost::system::error_code ignored;
    socket.set_option(boost::asio::socket_base::linger(true, 0), ignored);
  }
  retire();
}

// A completion from an earlier state's timer finds the state moved on and is ignored.
void connection::arm_timer(std::chrono::milliseconds after) {
  timer.expires_after(after);
  timer.async_wait([this, self = shared_from_this(), armed_in = at](const boost::system::error_code& error) {
    if (!error && at == armed_in) on_timer();
  });
}

// ---- The client that stopped sending while its answer is awaited ----

// The end of its input does not say whether the client only shut its sending side (as
// HTTP/1.0 tools do once the request is out) and still reads, or closed its socket and
// left. Only sending tells: a closed socket answers bytes with a reset. So the reply's
// first bytes, the same whatever the answer, go out now; the reset, if any, comes back
// before the answer is given away.
void connection::client_stopped_sending() {
  boost::system::error_code error;
  const std::vector<boost::asio::const_buffer> start{boost::asio::buffer(kReplyStart.data(), kReplyStart.size())};
  WriteHeldLines();
  const std::size_t sent = send_now(raw, start, /*end_follows=*/false, error);
  if (error == boost::asio::error::would_block) return;  // not on an idle socket; the answer sends it all
  if (!error && sent == kReplyStart.size()) input = client_input::probed;
  if (input != client_input::probed || client_gone()) {
    retire();
    return;
  }
  if (!socket.is_open()) return;  // not watched: the reset is found when the answer is due
  // Where the system reports the reset as an error on the socket, it ends the
  // connection as soon as it comes; elsewhere it is found when the answer is due.
  socket.async_wait(boost::asio::socket_base::wait_error,
                    [this, self = shared_from_this()](const boost::system::error_code& error) {
                      if (!error && at == state::awaiting_answer && client_gone()) retire();
                    });
}

bool connection::waiting() const {
  if (at != state::awaiting_answer) return false;
  const bool gone = client_gone();
  return !gone && at == state::awaiting_answer;  // a look may have ended it
}

// Asked before an answer is taken for this client: has its socket answered the early
// bytes with a reset? Some systems keep reporting the end of input on a read after the
// reset and tell it only as the socket's error, others the other way round. Either
// report is consumed by reading it, hence `gone` is kept.
bool connection::client_gone() const {
  if (at == state::awaiting_answer && !socket.is_open() && (input == client_input::quiet || input == client_input::looked)) {
    const_cast<connection*>(this)->look_at_client();
  }
  if (input != client_input::probed) return input == client_input::gone;
  if (take_error_now(raw) == 0) {
    boost::system::error_code error;
    peek_now(raw, error);
    if (!error || error == boost::asio::error::eof || error == boost::asio::error::would_block) return false;
  }
  input = client_input::gone;
  return true;
}

// A parked client nobody watches: has it sent more, ended its input, or left? Its
// answer is due now, and is given only to a client that is still there.
void connection::look_at_client() {
  boost::system::error_code error;
  if (peek_now(raw, error)) {
    input = client_input::more;  // dropped after the reply, as any body
  } else if (error == boost::asio::error::would_block) {
    input = client_input::looked;
  } else if (error == boost::asio::error::eof) {
    input = client_input::ended;
    client_stopped_sending();
  } else {
    input = client_input::gone;
    retire();
  }
}

}  // namespace server
}  // namespace http
