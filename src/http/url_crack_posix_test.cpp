#include "http/url_crack.h"

#include <gtest/gtest.h>

namespace http {
namespace server {
namespace {

struct CrackCase {
  const char* url;
  bool ok;
  url_scheme scheme;
  const char* host;
  int port;
};

// The Linux splitter's own choices where the Windows one is lax or odd: ports are
// digits only, a bracketed host is kept whole, user information ends at the last "@".
const CrackCase kCases[] = {
    {"http://localhost", true, url_scheme::http, "localhost", 80},
    {"HtTpS://Host.Example", true, url_scheme::https, "Host.Example", 443},
    {"http://h:0", true, url_scheme::http, "h", 0},
    {"http://h:65535/x", true, url_scheme::http, "h", 65535},
    {"http://h:", true, url_scheme::http, "h", 80},
    {"https://h:", true, url_scheme::https, "h", 443},
    {"http://a@b@localhost:81", true, url_scheme::http, "localhost", 81},
    {"http://[::1]", true, url_scheme::http, "[::1]", 80},
    {"http://[::1]:8080/", true, url_scheme::http, "[::1]", 8080},
    {"http://h?x#y", true, url_scheme::http, "h?x#y", 80},
    {"http://my_page.example:8080", true, url_scheme::http, "my_page.example", 8080},
    {"http://h:65536", false, url_scheme::other, "", 0},
    {"http://h:-1", false, url_scheme::other, "", 0},
    {"http://h:80a", false, url_scheme::other, "", 0},
    {"http://h:99999999999999999999", false, url_scheme::other, "", 0},
    {"http://[::1", false, url_scheme::other, "", 0},
    {"http://[::1]x", false, url_scheme::other, "", 0},
    {"http://:80", false, url_scheme::other, "", 0},
    {"http://user@", false, url_scheme::other, "", 0},
    {"http:///x", false, url_scheme::other, "", 0},
    {"://h", false, url_scheme::other, "", 0},
    {"1http://h", false, url_scheme::other, "", 0},
    {"ws://h", false, url_scheme::other, "", 0},
    {"", false, url_scheme::other, "", 0},
};

TEST(UrlCrackPosix, Table) {
  for (const auto& c : kCases) {
    cracked_url out;
    const std::string shown = c.url;
    ASSERT_EQ(crack_url(c.url, out), c.ok) << shown;
    if (!c.ok) continue;
    EXPECT_EQ(out.scheme, c.scheme) << shown;
    EXPECT_EQ(out.host, c.host) << shown;
    EXPECT_EQ(out.port, c.port) << shown;
  }
}

}  // namespace
}  // namespace server
}  // namespace http
