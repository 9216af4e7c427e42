#include "http/reply.h"

#include <gtest/gtest.h>

#include <string>

namespace http {
namespace server {
namespace {

std::string Bytes(const outgoing_reply& reply) {
  std::string out;
  for (const auto& range : serialize(reply)) out.append(static_cast<const char*>(range.data()), range.size());
  return out;
}

struct TableEntry {
  int32_t status;
  const char* line;
  size_t body_bytes;
};

const TableEntry kTable[] = {
    {200, "HTTP/1.0 200 OK\r\n", 0},
    {201, "HTTP/1.0 201 Created\r\n", 81},
    {202, "HTTP/1.0 202 Accepted\r\n", 83},
    {204, "HTTP/1.0 204 No Content\r\n", 84},
    {300, "HTTP/1.0 300 Multiple Choices\r\n", 99},
    {301, "HTTP/1.0 301 Moved Permanently\r\n", 101},
    {302, "HTTP/1.0 302 Moved Temporarily\r\n", 101},
    {304, "HTTP/1.0 304 Not Modified\r\n", 91},
    {400, "HTTP/1.0 400 Bad Request\r\n", 89},
    {401, "HTTP/1.0 401 Unauthorized\r\n", 91},
    {403, "HTTP/1.0 403 Forbidden\r\n", 85},
    {404, "HTTP/1.0 404 Not Found\r\n", 85},
    {500, "HTTP/1.0 500 Internal Server Error\r\n", 109},
    {501, "HTTP/1.0 501 Not Implemented\r\n", 97},
    {502, "HTTP/1.0 502 Bad Gateway\r\n", 89},
    {503, "HTTP/1.0 503 Service Unavailable\r\n", 105},
    // Numbers outside the table fall back to 500.
    {405, "HTTP/1.0 500 Internal Server Error\r\n", 109},
    {0, "HTTP/1.0 500 Internal Server Error\r\n", 109},
    {-200, "HTTP/1.0 500 Internal Server Error\r\n", 109},
};

TEST(Replies, CannedReplyForEveryStatus) {
  for (const auto& e : kTable) {
    outgoing_reply r = canned_reply(e.status);
    EXPECT_EQ(r.status, e.status);
    EXPECT_EQ(r.body.size(), e.body_bytes) << e.status;
    const std::string expected = std::string(e.line) + "Content-Length: " + std::to_string(e.body_bytes) +
                                 "\r\nContent-Type: text/html\r\n\r\n" + r.body;
    EXPECT_EQ(Bytes(r), expected) << e.status;
  }
}

TEST(Replies, CannedRepliesByteForByte) {
  const std::string bad_request =
      "HTTP/1.0 400 Bad Request\r\nContent-Length: 89\r\nContent-Type: text/html\r\n\r\n"
      "<html><head><title>Bad Request</title></head><body><h1>400 Bad Request</h1></body></html>";
  EXPECT_EQ(Bytes(canned_reply(400)), bad_request);
  EXPECT_EQ(bad_request.size(), 162u);

  const std::string ok = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\nContent-Type: text/html\r\n\r\n";
  EXPECT_EQ(Bytes(canned_reply(200)), ok);
  EXPECT_EQ(ok.size(), 63u);

  const std::string not_allowed =
      "HTTP/1.0 500 Internal Server Error\r\nContent-Length: 109\r\nContent-Type: text/html\r\n\r\n"
      "<html><head><title>Internal Server Error</title></head><body><h1>500 Internal Server Error</h1></body></html>";
  EXPECT_EQ(Bytes(canned_reply(405)), not_allowed);
  EXPECT_EQ(not_allowed.size(), 193u);

  EXPECT_EQ(canned_reply(204).body,
            "<html><head><title>No Content</title></head><body><h1>204 Content</h1></body></html>");
}

TEST(Replies, SerializeWritesFieldsAsStored) {
  outgoing_reply r;
  r.status = 404;
  r.body = "x";
  EXPECT_EQ(Bytes(r), "HTTP/1.0 404 Not Found\r\n\r\nx");

  r.fields = {{"A", ""}, {"B", "two words"}, {"A", "again"}};
  EXPECT_EQ(Bytes(r), "HTTP/1.0 404 Not Found\r\nA: \r\nB: two words\r\nA: again\r\n\r\nx");
}

// The ranges point into the reply and the shared status lines; nothing is copied.
TEST(Replies, RangesPointIntoTheReply) {
  outgoing_reply r = canned_reply(404);
  auto ranges = serialize(r);
  ASSERT_EQ(ranges.size(), 2 * 4 + 3u);
  EXPECT_EQ(ranges[0].data(), status_line(404).data());
  EXPECT_EQ(ranges[1].data(), r.fields[0].name.data());
  EXPECT_EQ(ranges[3].data(), r.fields[0].value.data());
  EXPECT_EQ(ranges.back().data(), r.body.data());
}

}  // namespace
}  // namespace server
}  // namespace http
