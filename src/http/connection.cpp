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
      head_timeout(head_timeout_) {}

void connection::start() {
  head_timer.expires_after(head_timeout);
  head_timer.async_wait([this, self = shared_from_this()](const boost::system::error_code& error) {
    on_head_timeout(error, self);
  });
  begin_read(shared_from_this());
}

void connection::close() {
  boost::system::error_code ignored;
  socket.close(ignored);
  head_timer.cancel();
}

void connection::begin_read(std::shared_ptr<connection> self) {
  socket.async_read_some(boost::asio::buffer(read_buffer),
                         [this, self = std::move(self)](const boost::system::error_code& error,
                                                        std::size_t count) mutable {
                           on_received(error, count, self);
                         });
}

void connection::on_received(const boost::system::error_code& error, std::size_t count,
                             std::shared_ptr<connection>& self) {
  // Retired meanwhile (time-out, stop, server gone): whatever completed is dropped.
  if (!socket.is_open()) return;
  if (error) {
    if (error != boost::asio::error::operation_aborted) registry.retire(self);
    return;
  }

  const char* first = read_buffer.data();
  switch (scan(scanner, current_request, first, first + count).result) {
    case scan_result::complete:
      head_done();
      dispatcher.dispatch(current_request, current_reply);
      send_reply(std::move(self));
      break;
    case scan_result::malformed:
      head_done();
      current_reply = canned_reply(400);
      send_reply(std::move(self));
      break;
    case scan_result::need_more:
      begin_read(std::move(self));
      break;
  }
}

void connection::head_done() {
  head_complete = true;
  head_timer.cancel();
}

void connection::send_reply(std::shared_ptr<connection> self) {
  serialize(current_reply, reply_ranges);
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
