#include "http/connection.h"

#include <utility>

#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>

#include "http/connection_registry.h"

namespace http {
namespace server {

connection::connection(boost::asio::ip::tcp::socket socket_, connection_registry& registry_,
                       const request_dispatcher& dispatcher_, std::size_t max_request_head,
                       std::chrono::milliseconds head_timeout_)
    : socket(std::move(socket_)),
      registry(registry_),
      dispatcher(dispatcher_),
      scanner(max_request_head),
      head_timer(socket.get_executor()),
      head_timeout(head_timeout_) {
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
  head_timer.cancel();
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
    head_timer.expires_after(head_timeout);
    head_timer.async_wait([this, self](const boost::system::error_code& error) { on_head_timeout(error, self); });
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
  const scan_result result = scan(scanner, current_request, first, first + count).result;
  if (result == scan_result::need_more) return true;
  head_complete = true;
  if (head_timer_armed) head_timer.cancel();
  if (result == scan_result::complete) {
    dispatcher.dispatch(current_request, current_reply);
  } else {
    current_reply = canned_reply(400);
  }
  send_reply(std::move(self));
  return false;
}

// One gathered write; what the socket does not take at once follows asynchronously.
void connection::send_reply(std::shared_ptr<connection> self) {
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

void connection::on_sent(const boost::system::error_code& error, const std::shared_ptr<connection>& self) {
  if (!socket.is_open()) return;
  if (!error) {
    boost::system::error_code ignored;
    socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
  }
  if (error != boost::asio::error::operation_aborted) registry.retire(self);
}

void connection::on_head_timeout(const boost::system::error_code& error, const std::shared_ptr<connection>& self) {
  if (error || head_complete || !socket.is_open()) return;
  registry.retire(self);
}

}  // namespace server
}  // namespace http
