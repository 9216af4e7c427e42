#include "http/native_socket.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include <boost/asio/error.hpp>

namespace http {
namespace server {

const bool can_tell_half_close = true;

namespace {

boost::system::error_code last_error() {
  return boost::system::error_code(errno, boost::asio::error::get_system_category());
}

}  // namespace

std::size_t receive_now(native_socket s, char* data, std::size_t size, boost::system::error_code& error) {
  const ssize_t n = ::recv(s, data, size, 0);
  if (n < 0) {
    error = last_error();
    return 0;
  }
  error = n == 0 ? boost::system::error_code(boost::asio::error::eof) : boost::system::error_code();
  return static_cast<std::size_t>(n);
}

std::size_t send_now(native_socket s, const std::vector<boost::asio::const_buffer>& ranges, bool end_follows,
                     boost::system::error_code& error) {
  iovec parts[64];
  std::size_t count = 0;
  for (const auto& range : ranges) {
    if (count == sizeof parts / sizeof parts[0]) break;
    parts[count].iov_base = const_cast<void*>(range.data());
    parts[count].iov_len = range.size();
    ++count;
  }
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = count;
  // The last bytes wait for the end and leave with it, in one segment instead of two.
  const ssize_t n = ::sendmsg(s, &message, MSG_NOSIGNAL | (end_follows ? MSG_MORE : 0));
  if (n < 0) {
    error = last_error();
    return 0;
  }
  error.clear();
  return static_cast<std::size_t>(n);
}

bool peek_now(native_socket s, boost::system::error_code& error) {
  char byte;
  const ssize_t n = ::recv(s, &byte, 1, MSG_PEEK);
  error = n < 0 ? last_error() : n == 0 ? boost::system::error_code(boost::asio::error::eof) : boost::system::error_code();
  return n > 0;
}

int take_error_now(native_socket s) {
  int value = 0;
  socklen_t size = sizeof value;
  return ::getsockopt(s, SOL_SOCKET, SO_ERROR, &value, &size) == 0 ? value : errno;
}

std::size_t bytes_waiting(native_socket s) {
  int count = 0;
  return ::ioctl(s, FIONREAD, &count) == 0 && count > 0 ? static_cast<std::size_t>(count) : 0;
}

void shutdown_now(native_socket s, boost::asio::socket_base::shutdown_type what) { ::shutdown(s, what); }

void close_now(native_socket s) { ::close(s); }

}  // namespace server
}  // namespace http
