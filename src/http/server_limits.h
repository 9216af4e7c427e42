// The bounds a server puts on its clients, so that no client can hold the server's
// memory, sockets or file descriptors without end. Tests shorten them.
#pragma once
#include <chrono>
#include <cstddef>

#include "http/request_scanner.h"

namespace http {
namespace server {

struct server_limits {
  std::size_t max_request_head = kMaxRequestHead;  // longer heads get the canned 400
  std::size_t max_connections = 256;               // more are closed at once, unanswered
  std::chrono::milliseconds head_timeout{30000};   // head not complete by then: closed, unanswered
  std::chrono::milliseconds write_timeout{30000};  // reply not taken by then: connection reset
  std::chrono::milliseconds linger_time{2000};     // after a reply, unread bytes are drained this long at most
  std::chrono::milliseconds accept_retry_delay{100};  // pause after an accept failed for want of resources
};

}  // namespace server
}  // namespace http
