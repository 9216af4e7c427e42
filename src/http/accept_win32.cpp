// Taking connections on Windows: one asynchronous accept at a time into a socket the
// I/O service already knows.
#include <memory>

#include <boost/asio/error.hpp>

#include "common/log.h"
#include "http/connection.h"
#include "http/server.h"

namespace http {
namespace server {

void server::start_accepting() { accept_next(); }

void server::accept_next() {
  acceptor.async_accept(next_socket, [token = std::weak_ptr<server*>(alive)](const boost::system::error_code& error) {
    if (auto live = token.lock()) (*live)->on_acceptable(error);
  });
}

// An error of the one connection being taken lets the next be taken at once; any other
// would recur, so the next try waits.
void server::on_acceptable(const boost::system::error_code& error) {
  if (!acceptor.is_open()) return;
  LogBatch lines;
  if (error == boost::asio::error::connection_aborted || error == boost::asio::error::connection_reset) {
    accept_next();
    return;
  }
  if (error) {
    accept_later();
    return;
  }
  boost::system::error_code failed;
  next_socket.non_blocking(true, failed);
  if (failed || !has_room()) {
    next_socket.close(failed);  // full: this one goes unanswered, the listener carries on
  } else {
    const native_socket raw = next_socket.native_handle();
    admit(std::make_shared<connection>(std::move(next_socket), raw, *this, dispatcher, limits));
  }
  accept_next();
}

}  // namespace server
}  // namespace http
