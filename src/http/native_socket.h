// Plain calls on a socket that never wait. A connection tries its read and its write
// with them first and hands the socket to the I/O service only when it has to wait,
// so a request answered at once costs no registration with the service.
#pragma once
#include <cstddef>
#include <vector>

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace http {
namespace server {

using native_socket = boost::asio::ip::tcp::socket::native_handle_type;

// Whether a reset that answers bytes sent after the client's end of input can be told
// from a client that only stopped sending. Where it cannot (Windows), an end of input
// while the answer is awaited is taken for a hang-up, so no answer goes to a page that
// left, and a client that only shut its sending side gets no answer.
extern const bool can_tell_half_close;

// What has arrived, at most size bytes; would_block when nothing has, eof at the end.
std::size_t receive_now(native_socket s, char* data, std::size_t size, boost::system::error_code& error);
// As much of the ranges as the socket takes; would_block when it takes nothing.
// end_follows: the connection's end comes next (a shutdown or close), so the system
// may hold the last bytes a moment and send the end with them.
std::size_t send_now(native_socket s, const std::vector<boost::asio::const_buffer>& ranges, bool end_follows,
                     boost::system::error_code& error);
// Looks without reading: true when bytes wait; otherwise error says why not
// (would_block: nothing yet; eof: the client's input ended; or how it was reset).
bool peek_now(native_socket s, boost::system::error_code& error);
// The socket's pending error, read and cleared; 0 for none.
int take_error_now(native_socket s);
// Bytes received and not yet read.
std::size_t bytes_waiting(native_socket s);
void shutdown_now(native_socket s, boost::asio::socket_base::shutdown_type what);
void close_now(native_socket s);

}  // namespace server
}  // namespace http
