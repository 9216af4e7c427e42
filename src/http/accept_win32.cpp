// Taking connections on Windows: one asynchronous accept at a time into a socket the
// I/O service already knows.
#include <memory>

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

void server::on_acceptable(const boost::system::error_code& error) {
  if (!acceptor.is_open()) return;
  if (!error) {
    if (!has_room()) {
      boost::system::error_code ignored;
      next_socket.close(ignored);  // full: this one goes unanswered, the listener carries on
    } else {
      registry.admit(std::make_shared<connection>(std::move(next_socket), registry, dispatcher, limits));
    }
  } else if (is_resource_shortage(error)) {
    accept_later();
    return;
  }
  accept_next();
}

}  // namespace server
}  // namespace http
