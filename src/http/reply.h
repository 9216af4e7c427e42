// The HTTP/1.0 reply record, the canned replies and the serialisation into byte
// ranges for one gathered write. The ranges point into the reply and the constant
// tables, so the reply must stay alive and unchanged until the write completes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/buffer.hpp>

#include "http/request.h"

namespace http {
namespace server {

struct outgoing_reply {
  int32_t status = 0;
  std::vector<header_field> fields;  // sent in this order
  std::string body;
};

// "HTTP/1.0 200 OK\r\n" and the like; unknown numbers get the 500 line.
std::string_view status_line(int32_t status);

// The short HTML page for a status; unknown numbers get the 500 page.
std::string_view canned_body(int32_t status);

// status, the canned body, Content-Length and Content-Type: text/html.
outgoing_reply canned_reply(int32_t status);

// Status line, each field as "name: value\r\n", an empty line, the body.
std::vector<boost::asio::const_buffer> serialize(const outgoing_reply& reply);

// The same into a list the caller keeps (emptied first), so it can be reused.
void serialize(const outgoing_reply& reply, std::vector<boost::asio::const_buffer>& ranges);

}  // namespace server
}  // namespace http
