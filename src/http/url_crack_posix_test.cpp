#include "http/url_crack.h"

#include <gtest/gtest.h>

namespace http {
namespace server {
namespace {

struct CrackCase {
  const char16_t* url;
  bool ok;
  url_scheme scheme;
  const char16_t* host;
  int port;
};

// The Linux splitter's own choices where the Windows one is lax or odd: ports are
// digits only, a bracketed host is kept whole, user information ends at the last "@".
const CrackCase kCases[] = {
    {u"http://localhost", true, url_scheme::http, u"localhost", 80},
    {u"HtTpS://Host.Example", true, url_scheme::https, u"Host.Example", 443},
    {u"http://h:0", true, url_scheme::http, u"h", 0},
    {u"http://h:65535/x", true, url_scheme::http, u"h", 65535},
    {u"http://h:", true, url_scheme::http, u"h", 80},
    {u"https://h:", true, url_scheme::https, u"h", 443},
    {u"http://a@b@localhost:81", true, url_scheme::http, u"localhost", 81},
    {u"http://[::1]", true, url_scheme::http, u"[::1]", 80},
    {u"http://[::1]:8080/", true, url_scheme::http, u"[::1]", 8080},
    {u"http://h?x#y", true, url_scheme::http, u"h?x#y", 80},
    {u"http://h:65536", false, url_scheme::other, u"", 0},
    {u"http://h:-1", false, url_scheme::other, u"", 0},
    {u"http://h:80a", false, url_scheme::other, u"", 0},
    {u"http://h:99999999999999999999", false, url_scheme::other, u"", 0},
    {u"http://[::1", false, url_scheme::other, u"", 0},
    {u"http://[::1]x", false, url_scheme::other, u"", 0},
    {u"http://:80", false, url_scheme::other, u"", 0},
    {u"http://user@", false, url_scheme::other, u"", 0},
    {u"http:///x", false, url_scheme::other, u"", 0},
    {u"://h", false, url_scheme::other, u"", 0},
    {u"1http://h", false, url_scheme::other, u"", 0},
    {u"ws://h", false, url_scheme::other, u"", 0},
    {u"", false, url_scheme::other, u"", 0},
};

TEST(UrlCrackPosix, Table) {
  for (const auto& c : kCases) {
    cracked_url out;
    const std::string shown = WideToUtf8(c.url);
    ASSERT_EQ(crack_url(c.url, out), c.ok) << shown;
    if (!c.ok) continue;
    EXPECT_EQ(out.scheme, c.scheme) << shown;
    EXPECT_EQ(out.host, WideString(c.host)) << shown;
    EXPECT_EQ(out.port, c.port) << shown;
  }
}

}  // namespace
}  // namespace server
}  // namespace http
