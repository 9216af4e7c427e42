#include "http/connection.h"

#include <cctype>
#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>

#include "http/connection_registry.h"

namespace http {
namespace server {

namespace {

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

}  // namespace

connection::connection(boost::asio::ip::tcp::socket socket_, connection_registry& registry_,
                       const request_dispatcher& dispatcher_, const server_limits& limits)
    : socket(std::move(socket_)),
      registry(registry_),
      dispatcher(dispatcher_),
      scanner(limits.max_request_head),
      timer(socket.get_executor()),
      head_timeout(limits.head_timeout),
      linger_time(limits.linger_time) {
  current_request.fields.reserve(8);
}

// Reads and writes are first tried at once, without waiting: a head usually arrives
// with the connection and in one piece, and a reply fits the socket's buffer. Only
// when the socket has nothing to give, or takes no more, does the connection wait.
void connection::start() {
  boost::system::error_code error;
  socket.non_blocking(true, error);
  immediate_io = !error;
  if (immediate_io) {
    begin_read(shared_from_this());
  } else {
    wait_for_bytes(shared_from_this());
  }
}

void connection::close() {
  boost::system::error_code ignored;
  socket.close(ignored);
  timer.cancel();
  on_deadline = nullptr;
}

void connection::begin_read(std::shared_ptr<connection> self) {
  for (;;) {
    boost::system::error_code error;
    const std::size_t count = socket.read_some(boost::asio::buffer(read_buffer), error);
    if (error == boost::asio::error::would_block) {
      wait_for_bytes(std::move(self));
      return;
    }
    if (!on_received(error, count, self)) return;
  }
}

void connection::wait_for_bytes(std::shared_ptr<connection> self) {
  if (!head_timer_armed) {
    head_timer_armed = true;
    timer.expires_after(head_timeout);
    timer.async_wait([this, self](const boost::system::error_code& error) { on_head_timeout(error, self); });
  }
  socket.async_read_some(boost::asio::buffer(read_buffer),
                         [this, self = std::move(self)](const boost::system::error_code& error,
                                                        std::size_t count) mutable {
                           if (!on_received(error, count, self)) return;
                           if (immediate_io) {
                             begin_read(std::move(self));
                           } else {
                             wait_for_bytes(std::move(self));
                           }
                         });
}

// True when the head needs more bytes.
bool connection::on_received(const boost::system::error_code& error, std::size_t count,
                             std::shared_ptr<connection>& self) {
  if (!socket.is_open()) return false;
  if (error) {
    if (error != boost::asio::error::operation_aborted) registry.retire(self);
    return false;
  }
  const char* first = read_buffer.data();
  const scan_outcome outcome = scan(scanner, current_request, first, first + count);
  if (outcome.result == scan_result::need_more) return true;
  if (head_timer_armed) timer.cancel();
  if (outcome.result == scan_result::complete) {
    more_input = outcome.next != first + count || announces_body(current_request);
    if (!dispatcher.dispatch(current_request, current_reply, *this, allowed_origin)) {
      // Parked: the handler answers later. Meanwhile only a hang-up is looked for.
      discard_input(std::move(self));
      return false;
    }
  } else {
    more_input = true;  // the rest of a bad head may still be on its way
    current_reply = canned_reply(400);
  }
  send_reply(std::move(self));
  return false;
}

std::weak_ptr<deferred_reply> connection::defer(std::chrono::milliseconds deadline, deadline_fn on_deadline_) {
  at = phase::deferred;
  on_deadline = std::move(on_deadline_);
  timer.expires_after(deadline);
  timer.async_wait([this, self = shared_from_this()](const boost::system::error_code& error) {
    if (error || !waiting()) return;
    deadline_fn late = std::move(on_deadline);
    late(*this);
    if (waiting()) registry.retire(self);  // the handler left it unanswered
  });
  return std::weak_ptr<deferred_reply>(shared_from_this());
}

void connection::answer(int32_t status, const std::string& content_type, const std::string& body) {
  if (!waiting()) return;
  timer.cancel();
  on_deadline = nullptr;
  finish(status, content_type, body, allowed_origin, current_reply);
  send_reply(shared_from_this());
}

// One gathered write; what the socket does not take at once follows asynchronously.
void connection::send_reply(std::shared_ptr<connection> self) {
  at = phase::writing;
  serialize(current_reply, reply_ranges);
  if (immediate_io) {
    boost::system::error_code error;
    std::size_t sent = socket.write_some(reply_ranges, error);
    if (error == boost::asio::error::would_block) {
      sent = 0;
    } else if (error || sent == boost::asio::buffer_size(reply_ranges)) {
      on_sent(error, self);
      return;
    }
    auto range = reply_ranges.begin();
    while (sent >= range->size()) {
      sent -= range->size();
      ++range;
    }
    *range += sent;
    reply_ranges.erase(reply_ranges.begin(), range);
  }
  boost::asio::async_write(socket, reply_ranges,
                           [this, self = std::move(self)](const boost::system::error_code& error, std::size_t) {
                             on_sent(error, self);
                           });
}

// Closing a socket that still holds unread bytes resets the connection, and the client
// may lose the reply it was just sent. So when bytes may follow the head, only the
// sending side is shut; what still comes is read and dropped, for a bounded time.
void connection::on_sent(const boost::system::error_code& error, const std::shared_ptr<connection>& self) {
  if (!socket.is_open()) return;
  if (error) {
    if (error != boost::asio::error::operation_aborted) registry.retire(self);
    return;
  }
  boost::system::error_code ignored;
  if (!input_ended && (more_input || socket.available(ignored) > 0)) {
    linger(self);
    return;
  }
  socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
  registry.retire(self);
}

void connection::linger(const std::shared_ptr<connection>& self) {
  at = phase::lingering;
  boost::system::error_code ignored;
  socket.shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
  timer.expires_after(linger_time);
  timer.async_wait([this, self](const boost::system::error_code& error) {
    if (!error && socket.is_open()) registry.retire(self);
  });
  if (!discarding) discard_input(self);
}

void connection::discard_input(std::shared_ptr<connection> self) {
  discarding = true;
  socket.async_read_some(boost::asio::buffer(read_buffer),
                         [this, self](const boost::system::error_code& error, std::size_t) mutable {
                           on_discarded(error, std::move(self));
                         });
}

void connection::on_discarded(const boost::system::error_code& error, std::shared_ptr<connection> self) {
  discarding = false;
  if (!socket.is_open() || error == boost::asio::error::operation_aborted) return;
  if (!error) {
    more_input = true;
    discard_input(std::move(self));
    return;
  }
  // The client stopped sending, or is gone.
  input_ended = true;
  if (at == phase::deferred || at == phase::lingering) registry.retire(self);
}

void connection::on_head_timeout(const boost::system::error_code& error, const std::shared_ptr<connection>& self) {
  if (error || at != phase::head || !socket.is_open()) return;
  registry.retire(self);
}

}  // namespace server
}  // namespace http
