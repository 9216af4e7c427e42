// Taking connections on Linux: the listener reports that connections wait, and they
// are taken with accept4, already non-blocking, until none is left. Each is tried at
// once (its head is usually there already) and handed to the I/O service only if it
// has to wait.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

#include "common/log.h"
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

// What accept reports of the one connection it was taking (aborted, refused by a
// rule, or failed by the network): the next may be fine. Anything else concerns the
// listener or the process, and another try at once would fail again.
bool fails_one_connection(int error) {
  switch (error) {
    case ECONNABORTED: case EPROTO: case EPERM: case ENETDOWN: case ENOPROTOOPT:
    case EHOSTDOWN: case ENONET: case EHOSTUNREACH: case EOPNOTSUPP: case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

void server::on_acceptable(const boost::system::error_code&) {
  if (!acceptor.is_open()) return;
  LogBatch lines;  // the requests of one wake-up, often several
  for (;;) {
    const int s = ::accept4(acceptor.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      if (fails_one_connection(errno)) continue;
      accept_later();
      return;
    }
    if (!has_room() && !make_room()) {
      close_now(s);  // full: this one goes unanswered, the listener carries on
      continue;
    }
    admit(std::make_shared<connection>(boost::asio::ip::tcp::socket(acceptor.get_executor()), s, *this, dispatcher,
                                       limits));
  }
  accept_next();
}

}  // namespace server
}  // namespace http
