// Request handling: turns a complete request head into a reply. The target must
// percent-decode, the page must come from an allowed origin, and the method must be
// GET or POST; the web endpoints' handler then decides the status, and only a 200
// reply names the allowed origin in Access-Control-Allow-Origin.
#pragma once
#include <cstdint>
#include <string>

#include "http/reply.h"
#include "http/request.h"

namespace http {
namespace server {

// target (as received), content type (out), body (out) -> status
using get_handler_fn = int32_t (*)(const std::string& target, std::string& content_type, std::string& body);
// target, request content (always empty: a body is never read), content type, body -> status
using post_handler_fn = int32_t (*)(const std::string& target, const std::string& content,
                                    std::string& content_type, std::string& body);

struct request_dispatcher {
  get_handler_fn get_handler;
  post_handler_fn post_handler;

  // Replaces reply completely; always produces one.
  void dispatch(const incoming_request& request, outgoing_reply& reply) const;
};

// "%XX" escapes and "+"; false when a "%" is not followed by two bytes that read as
// a hexadecimal number.
bool percent_decode(const std::string& text, std::string& decoded);

}  // namespace server
}  // namespace http
