#include "http/request_dispatcher.h"

#include <sstream>

#include "http/origin_policy.h"

namespace http {
namespace server {

namespace {

// The two bytes are read as formatted input, so leading blanks and a sign pass
// ("% 1", "%-1") and reading stops at the first byte that is not a hex digit.
bool read_hex_pair(const char* two, int& value) {
  std::istringstream in(std::string(two, 2));
  in >> std::hex >> value;
  return !in.fail();
}

const std::string* first_origin(const incoming_request& request) {
  for (const header_field& f : request.fields) {
    if (f.name == "Origin") return &f.value;
  }
  return nullptr;
}

}  // namespace

bool percent_decode(const std::string& text, std::string& decoded) {
  decoded.clear();
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (text.size() - i < 3) return false;
      int value = 0;
      if (!read_hex_pair(&text[i + 1], value)) return false;
      decoded.push_back(static_cast<char>(value & 0xFF));
      i += 2;
    } else if (c == '+') {
      decoded.push_back(' ');
    } else {
      decoded.push_back(c);
    }
  }
  return true;
}

bool request_dispatcher::dispatch(const incoming_request& request, outgoing_reply& reply, reply_deferral& later,
                                  std::string& allowed_origin) const {
  {
    std::string decoded;
    if (!percent_decode(request.target, decoded)) {
      reply = canned_reply(400);
      return true;
    }
  }

  static const std::string kNoOrigin;
  const std::string* origin = first_origin(request);
  allowed_origin.clear();
  if (!check_origin(origin ? *origin : kNoOrigin, allowed_origin)) {
    reply = canned_reply(403);
    return true;
  }

  std::string content_type;
  std::string body;
  int32_t status;
  if (request.verb == "GET") {
    status = get_handler(request.target, content_type, body, later);
    if (status == kAnswerLater) return false;
  } else if (request.verb == "POST") {
    const std::string no_content;
    status = post_handler(request.target, no_content, content_type, body);
  } else {
    reply = canned_reply(405);
    return true;
  }
  finish(status, std::move(content_type), std::move(body), allowed_origin, reply);
  return true;
}

void finish(int32_t status, std::string content_type, std::string body, std::string allowed_origin,
            outgoing_reply& reply) {
  switch (status) {
    case 200:
      reply.status = 200;
      reply.body = std::move(body);
      reply.fields.clear();
      reply.fields.reserve(3);
      reply.fields.push_back({"Content-Length", std::to_string(reply.body.size())});
      reply.fields.push_back({"Content-Type", std::move(content_type)});
      reply.fields.push_back({"Access-Control-Allow-Origin", std::move(allowed_origin)});
      break;
    case 400:
    case 404:
    case 500:
      reply = canned_reply(status);
      break;
    default:
      reply = canned_reply(200);  // the bare 200 that every reply starts from
      break;
  }
}

}  // namespace server
}  // namespace http
