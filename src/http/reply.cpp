#include "http/reply.h"

namespace http {
namespace server {

namespace {

struct status_entry {
  int32_t status;
  std::string_view line;
  std::string_view body;
};

#define TOVEL_PAGE(title, heading) \
  "<html><head><title>" title "</title></head><body><h1>" heading "</h1></body></html>"

// Constant data, shared by every reply; the 500 entry is the fallback.
constexpr status_entry kStatusTable[] = {
    {200, "HTTP/1.0 200 OK\r\n", ""},
    {201, "HTTP/1.0 201 Created\r\n", TOVEL_PAGE("Created", "201 Created")},
    {202, "HTTP/1.0 202 Accepted\r\n", TOVEL_PAGE("Accepted", "202 Accepted")},
    {204, "HTTP/1.0 204 No Content\r\n", TOVEL_PAGE("No Content", "204 Content")},
    {300, "HTTP/1.0 300 Multiple Choices\r\n", TOVEL_PAGE("Multiple Choices", "300 Multiple Choices")},
    {301, "HTTP/1.0 301 Moved Permanently\r\n", TOVEL_PAGE("Moved Permanently", "301 Moved Permanently")},
    {302, "HTTP/1.0 302 Moved Temporarily\r\n", TOVEL_PAGE("Moved Temporarily", "302 Moved Temporarily")},
    {304, "HTTP/1.0 304 Not Modified\r\n", TOVEL_PAGE("Not Modified", "304 Not Modified")},
    {400, "HTTP/1.0 400 Bad Request\r\n", TOVEL_PAGE("Bad Request", "400 Bad Request")},
    {401, "HTTP/1.0 401 Unauthorized\r\n", TOVEL_PAGE("Unauthorized", "401 Unauthorized")},
    {403, "HTTP/1.0 403 Forbidden\r\n", TOVEL_PAGE("Forbidden", "403 Forbidden")},
    {404, "HTTP/1.0 404 Not Found\r\n", TOVEL_PAGE("Not Found", "404 Not Found")},
    {500, "HTTP/1.0 500 Internal Server Error\r\n", TOVEL_PAGE("Internal Server Error", "500 Internal Server Error")},
    {501, "HTTP/1.0 501 Not Implemented\r\n", TOVEL_PAGE("Not Implemented", "501 Not Implemented")},
    {502, "HTTP/1.0 502 Bad Gateway\r\n", TOVEL_PAGE("Bad Gateway", "502 Bad Gateway")},
    {503, "HTTP/1.0 503 Service Unavailable\r\n", TOVEL_PAGE("Service Unavailable", "503 Service Unavailable")},
};

#undef TOVEL_PAGE

const status_entry& entry_for(int32_t status) {
  const status_entry* fallback = nullptr;
  for (const auto& e : kStatusTable) {
    if (e.status == status) return e;
    if (e.status == 500) fallback = &e;
  }
  return *fallback;
}

const char kFieldSeparator[] = ": ";
const char kLineEnd[] = "\r\n";

}  // namespace

std::string_view status_line(int32_t status) { return entry_for(status).line; }

std::string_view canned_body(int32_t status) { return entry_for(status).body; }

outgoing_reply canned_reply(int32_t status) {
  outgoing_reply reply;
  reply.status = status;
  reply.body = canned_body(status);
  reply.fields.reserve(3);
  reply.fields.push_back({"Content-Length", std::to_string(reply.body.size())});
  reply.fields.push_back({"Content-Type", "text/html"});
  return reply;
}

void serialize(const outgoing_reply& reply, std::vector<boost::asio::const_buffer>& ranges) {
  using boost::asio::buffer;
  ranges.clear();
  ranges.reserve(reply.fields.size() * 4 + 3);
  const std::string_view line = status_line(reply.status);
  ranges.push_back(buffer(line.data(), line.size()));
  for (const header_field& f : reply.fields) {
    ranges.push_back(buffer(f.name));
    ranges.push_back(buffer(kFieldSeparator, 2));
    ranges.push_back(buffer(f.value));
    ranges.push_back(buffer(kLineEnd, 2));
  }
  ranges.push_back(buffer(kLineEnd, 2));
  ranges.push_back(buffer(reply.body));
}

std::vector<boost::asio::const_buffer> serialize(const outgoing_reply& reply) {
  std::vector<boost::asio::const_buffer> ranges;
  serialize(reply, ranges);
  return ranges;
}

}  // namespace server
}  // namespace http
