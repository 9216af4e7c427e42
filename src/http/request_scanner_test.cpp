#include "http/request_scanner.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace http {
namespace server {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct ScanCase {
  const char* what;
  std::string bytes;
  scan_result result;
  size_t stop;  // bytes consumed when the result was decided
  // The request as it stands afterwards.
  std::string verb;
  std::string target;
  int32_t major;
  int32_t minor;
  Fields fields;
};

constexpr int32_t kTop = std::numeric_limits<int32_t>::max();
const std::string kHead = "GET / HTTP/1.0\r\n";

const ScanCase kCases[] = {
    {"plain head", "GET / HTTP/1.0\r\n\r\n", scan_result::complete, 18, "GET", "/", 1, 0, {}},
    {"empty input", "", scan_result::need_more, 0, "", "", 0, 0, {}},
    {"head not finished", kHead + "Host: x\r\n", scan_result::need_more, 25, "GET", "/", 1, 0, {{"Host", "x"}}},
    {"fields in arrival order, repeats kept", kHead + "Origin: a\r\norigin: b\r\nOrigin: c\r\n\r\n",
     scan_result::complete, 51, "GET", "/", 1, 0, {{"Origin", "a"}, {"origin", "b"}, {"Origin", "c"}}},
    {"target kept raw", "GET /q%20x?a=1+2 HTTP/1.1\r\n\r\n", scan_result::complete, 29, "GET", "/q%20x?a=1+2", 1, 1,
     {}},
    {"body bytes after the head are not scanned",
     "POST /killgame HTTP/1.0\r\nContent-Length: 4\r\n\r\nbo\x01y", scan_result::complete, 46, "POST",
     "/killgame", 1, 0, {{"Content-Length", "4"}}},
    {"lower-case verb", "get / HTTP/1.0\r\n\r\n", scan_result::complete, 18, "get", "/", 1, 0, {}},
    {"two spaces give an empty target", "GET  HTTP/1.0\r\n\r\n", scan_result::complete, 17, "GET", "", 1, 0, {}},
    {"multi-digit version", "GET / HTTP/10.20\r\n\r\n", scan_result::complete, 20, "GET", "/", 10, 20, {}},
    {"huge version numbers stop at the top", "GET / HTTP/99999999999999999999.2147483648\r\n\r\n",
     scan_result::complete, 46, "GET", "/", kTop, kTop, {}},
    {"largest version that fits", "GET / HTTP/2147483647.2147483646\r\n\r\n", scan_result::complete, 36, "GET", "/",
     kTop, kTop - 1, {}},
    {"bytes 128-255 in target and value", "GET /\xC3\xA9\xFF HTTP/1.0\r\nX: \x80\xFE\r\n\r\n",
     scan_result::complete, 28, "GET", "/\xC3\xA9\xFF", 1, 0, {{"X", "\x80\xFE"}}},
    {"empty value still needs its space", kHead + "X: \r\n\r\n", scan_result::complete, 23, "GET", "/", 1, 0,
     {{"X", ""}}},
    {"second space starts the value", kHead + "X:  a\r\n\r\n", scan_result::complete, 25, "GET", "/", 1, 0,
     {{"X", " a"}}},
    {"continuation joins without blanks", kHead + "X: a\r\n b\r\n\r\n", scan_result::complete, 28, "GET", "/", 1,
     0, {{"X", "ab"}}},
    {"continuation skips tabs and spaces", kHead + "X: a\r\n\t \tb c\r\nY: d\r\n\r\n", scan_result::complete, 38,
     "GET", "/", 1, 0, {{"X", "ab c"}, {"Y", "d"}}},
    {"blank continuation line adds nothing", kHead + "X: a\r\n \r\n\r\n", scan_result::complete, 27, "GET", "/", 1,
     0, {{"X", "a"}}},

    {"bare line feed ends the request line", "GET / HTTP/1.0\n", scan_result::malformed, 15, "GET", "/", 1, 0, {}},
    {"bare line feed ends a field", kHead + "X: a\n", scan_result::malformed, 21, "GET", "/", 1, 0, {{"X", "a"}}},
    {"bare line feed ends the head", kHead + "\n", scan_result::malformed, 17, "GET", "/", 1, 0, {}},
    {"carriage return then other byte", kHead + "\rX", scan_result::malformed, 18, "GET", "/", 1, 0, {}},
    {"lower-case http", "GET / http/1.0\r\n\r\n", scan_result::malformed, 7, "GET", "/", 0, 0, {}},
    {"version without a point", "GET / HTTP/1\r\n\r\n", scan_result::malformed, 13, "GET", "/", 1, 0, {}},
    {"version without digits", "GET / HTTP/.1\r\n", scan_result::malformed, 12, "GET", "/", 0, 0, {}},
    {"no space after the colon", kHead + "X:a\r\n", scan_result::malformed, 19, "GET", "/", 1, 0, {{"X", ""}}},
    {"tab inside a value", kHead + "X: a\tb\r\n", scan_result::malformed, 21, "GET", "/", 1, 0, {{"X", "a"}}},
    {"tab inside the target", "GET /a\tb HTTP/1.0\r\n", scan_result::malformed, 7, "GET", "/a", 0, 0, {}},
    {"DEL inside the target", "GET /a\x7F HTTP/1.0\r\n", scan_result::malformed, 7, "GET", "/a", 0, 0, {}},
    {"first field line starts with a space", kHead + " X: a\r\n", scan_result::malformed, 17, "GET", "/", 1, 0, {}},
    {"space inside a field name", kHead + "X Y: a\r\n", scan_result::malformed, 18, "GET", "/", 1, 0, {{"X", ""}}},
    {"separator inside the verb", "GE(T / HTTP/1.0\r\n", scan_result::malformed, 3, "GE", "", 0, 0, {}},
    {"leading space", " / HTTP/1.0\r\n\r\n", scan_result::malformed, 1, "", "", 0, 0, {}},
    {"byte 128 in the verb", "G\x80T / HTTP/1.0\r\n", scan_result::malformed, 2, "G", "", 0, 0, {}},
    {"byte 200 in a field name", kHead + "X\xC8: a\r\n", scan_result::malformed, 18, "GET", "/", 1, 0, {{"X", ""}}},
    {"empty line first", "\r\n", scan_result::malformed, 1, "", "", 0, 0, {}},
};

void ExpectRequest(const ScanCase& c, const incoming_request& r, const char* how) {
  EXPECT_EQ(r.verb, c.verb) << c.what << how;
  EXPECT_EQ(r.target, c.target) << c.what << how;
  EXPECT_EQ(r.version_major, c.major) << c.what << how;
  EXPECT_EQ(r.version_minor, c.minor) << c.what << how;
  Fields got;
  for (const auto& f : r.fields) got.emplace_back(f.name, f.value);
  EXPECT_EQ(got, c.fields) << c.what << how;
}

TEST(RequestScanner, WholeChunk) {
  for (const auto& c : kCases) {
    request_scanner scanner;
    incoming_request request;
    const char* first = c.bytes.data();
    scan_outcome out = scan(scanner, request, first, first + c.bytes.size());
    EXPECT_EQ(out.result, c.result) << c.what;
    EXPECT_EQ(static_cast<size_t>(out.next - first), c.stop) << c.what;
    ExpectRequest(c, request, " (whole)");
  }
}

TEST(RequestScanner, OneBytePerCall) {
  for (const auto& c : kCases) {
    request_scanner scanner;
    incoming_request request;
    scan_result result = scan_result::need_more;
    size_t fed = 0;
    while (fed < c.bytes.size() && result == scan_result::need_more) {
      const char* b = c.bytes.data() + fed;
      scan_outcome out = scan(scanner, request, b, b + 1);
      result = out.result;
      EXPECT_EQ(out.next, b + 1) << c.what;
      ++fed;
    }
    EXPECT_EQ(result, c.result) << c.what;
    EXPECT_EQ(fed, c.stop) << c.what;
    ExpectRequest(c, request, " (byte by byte)");
  }
}

// A head may be as long as the limit, not a byte longer, however it is cut.
TEST(RequestScanner, HeadLimit) {
  const std::string head = "GET / HTTP/1.0\r\n\r\n";  // 18 bytes
  struct Case {
    size_t limit;
    scan_result result;
    size_t stop;
  } cases[] = {{18, scan_result::complete, 18}, {17, scan_result::malformed, 18}, {5, scan_result::malformed, 6}};
  for (const auto& c : cases) {
    for (size_t piece : {head.size(), size_t{1}, size_t{4}}) {
      request_scanner scanner(c.limit);
      incoming_request request;
      scan_outcome out{scan_result::need_more, head.data()};
      const char* end = head.data() + head.size();
      while (out.result == scan_result::need_more && out.next != end) {
        const char* first = out.next;
        out = scan(scanner, request, first, std::min(first + piece, end));
      }
      EXPECT_EQ(out.result, c.result) << "limit " << c.limit << ", pieces of " << piece;
      EXPECT_EQ(static_cast<size_t>(out.next - head.data()), c.stop) << "limit " << c.limit << ", pieces of " << piece;
    }
  }
}

// The production limit: 64 KiB of head is accepted, one byte more is not.
TEST(RequestScanner, ProductionHeadLimitIs64KiB) {
  const std::string start = "GET / HTTP/1.0\r\nX: ";
  const std::string end = "\r\n\r\n";
  for (size_t total : {kMaxRequestHead, kMaxRequestHead + 1}) {
    std::string head = start + std::string(total - start.size() - end.size(), 'a') + end;
    ASSERT_EQ(head.size(), total);
    request_scanner scanner;
    incoming_request request;
    scan_outcome out = scan(scanner, request, head.data(), head.data() + head.size());
    EXPECT_EQ(out.result, total == 65536 ? scan_result::complete : scan_result::malformed) << total;
  }
}

}  // namespace
}  // namespace server
}  // namespace http
