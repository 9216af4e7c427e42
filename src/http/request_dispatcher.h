// Request handling: turns a complete request head into a reply. The target must
// percent-decode, the page must come from an allowed origin, and the method must be
// GET or POST; the web endpoints' handler then decides the status, and only a 200
// reply names the allowed origin in Access-Control-Allow-Origin.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "http/deferred_reply.h"
#include "http/reply.h"
#include "http/request.h"

namespace http {
namespace server {

// target (as received), content type (out), body (out), a way to answer later -> status,
// or kAnswerLater once the handler has deferred its answer
using get_handler_fn = std::function<int32_t(const std::string& target, std::string& content_type,
                                            std::string& body, reply_deferral& later)>;
// target, request content (always empty: a body is never read), content type, body -> status
using post_handler_fn = std::function<int32_t(const std::string& target, const std::string& content,
                                             std::string& content_type, std::string& body)>;

struct request_dispatcher {
  get_handler_fn get_handler;
  post_handler_fn post_handler;

  // Replaces reply completely and answers true; or false when the handler deferred its
  // answer, which then goes through finish() with the allowed origin written here.
  bool dispatch(const incoming_request& request, outgoing_reply& reply, reply_deferral& later,
                std::string& allowed_origin) const;
};

// The reply for a handler's status, content type and body: 200 names the allowed
// origin; 400, 404 and 500 are canned; any other status leaves the bare 200.
void finish(int32_t status, std::string content_type, std::string body, std::string allowed_origin,
            outgoing_reply& reply);

// "%XX" escapes and "+"; false when a "%" is not followed by two bytes that read as
// a hexadecimal number.
bool percent_decode(const std::string& text, std::string& decoded);

}  // namespace server
}  // namespace http
