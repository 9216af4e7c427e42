#include "http/native_socket.h"

#include <winsock2.h>

#include <boost/asio/error.hpp>

namespace http {
namespace server {

const bool can_tell_half_close = false;

namespace {

boost::system::error_code last_error() {
  return boost::system::error_code(WSAGetLastError(), boost::asio::error::get_system_category());
}

}  // namespace

// The socket was put in non-blocking mode when the connection took it.
std::size_t receive_now(native_socket s, char* data, std::size_t size, boost::system::error_code& error) {
  const int n = ::recv(s, data, static_cast<int>(size), 0);
  if (n == SOCKET_ERROR) {
    error = last_error();
    return 0;
  }
  error = n == 0 ? boost::system::error_code(boost::asio::error::eof) : boost::system::error_code();
  return static_cast<std::size_t>(n);
}

std::size_t send_now(native_socket s, const std::vector<boost::asio::const_buffer>& ranges, bool /*end_follows*/,
                     boost::system::error_code& error) {
  WSABUF parts[64];
  DWORD count = 0;
  for (const auto& range : ranges) {
    if (count == sizeof parts / sizeof parts[0]) break;
    parts[count].buf = static_cast<char*>(const_cast<void*>(range.data()));
    parts[count].len = static_cast<ULONG>(range.size());
    ++count;
  }
  DWORD sent = 0;
  if (::WSASend(s, parts, count, &sent, 0, nullptr, nullptr) == SOCKET_ERROR) {
    error = last_error();
    return 0;
  }
  error.clear();
  return sent;
}

bool peek_now(native_socket s, boost::system::error_code& error) {
  char byte;
  const int n = ::recv(s, &byte, 1, MSG_PEEK);
  error = n == SOCKET_ERROR ? last_error() : n == 0 ? boost::system::error_code(boost::asio::error::eof) : boost::system::error_code();
  return n > 0;
}

int take_error_now(native_socket s) {
  int value = 0;
  int size = sizeof value;
  return ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&value), &size) == 0 ? value : WSAGetLastError();
}

std::size_t bytes_waiting(native_socket s) {
  u_long count = 0;
  return ::ioctlsocket(s, FIONREAD, &count) == 0 ? count : 0;
}

void shutdown_now(native_socket s, boost::asio::socket_base::shutdown_type what) { ::shutdown(s, what); }

void close_now(native_socket s) { ::closesocket(s); }

}  // namespace server
}  // namespace http
