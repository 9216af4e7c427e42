// Taking connections on Linux: the listener reports that connections wait, and they
// are taken with accept4, already non-blocking, until none is left. Each is tried at
// once (its head is usually there already) and handed to the I/O service only if it
// has to wait.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

#include <boost/asio/error.hpp>

#include "http/connection.h"
#include "http/native_socket.h"
#include "http/server.h"

namespace http {
namespace server {

// A connection is handed over by the system once its first bytes are in, or after a
// second of silence. A request then costs one wake-up, the listener's, instead of that
// and another for its socket; a client that only connects holds no slot meanwhile.
constexpr int kSilenceBeforeAccept = 1;  // seconds

void server::start_accepting() {
  ::setsockopt(acceptor.native_handle(), IPPROTO_TCP, TCP_DEFER_ACCEPT, &kSilenceBeforeAccept,
               sizeof kSilenceBeforeAccept);
  acceptor.non_blocking(true);
  accept_next();
}

void server::accept_next() {
  acceptor.async_wait(boost::asio::socket_base::wait_read,
                      [token = std::weak_ptr<server*>(alive)](const boost::system::error_code& error) {
                        if (auto live = token.lock()) (*live)->on_acceptable(error);
                      });
}

void server::on_acceptable(const boost::system::error_code&) {
  if (!acceptor.is_open()) return;
  for (;;) {
    const int s = ::accept4(acceptor.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0) {
      const boost::system::error_code error(errno, boost::asio::error::get_system_category());
      if (error == boost::asio::error::would_block || error == boost::asio::error::try_again) break;
      if (is_resource_shortage(error)) {
        accept_later();
        return;
      }
      continue;  // this one failed; the next may not
    }
    if (!has_room()) {
      close_now(s);  // full: this one goes unanswered, the listener carries on
      continue;
    }
    registry.admit(std::make_shared<connection>(s, acceptor.get_executor(), registry, dispatcher, limits));
  }
  accept_next();
}

}  // namespace server
}  // namespace http
