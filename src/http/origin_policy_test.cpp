#include "http/origin_policy.h"

#include <gtest/gtest.h>

#include <string>

#include "http/test_switch.h"
#include "web_domains.h"

namespace http {
namespace server {
namespace {

const char kSwitch[] = "TOVELWEBHELPER_IGNORE_ORIGIN_HEADER";
const std::string kSuffix1 = TOVEL_WEB_DOMAIN_SUFFIX_1;  // ".tovelgames.example" by default
const std::string kSuffix2 = TOVEL_WEB_DOMAIN_SUFFIX_2;
const std::string kBare1 = kSuffix1.substr(1);

struct OriginCase {
  std::string origin;
  bool allowed;
  std::string echoed;  // checked when allowed
};

// One table for both builds: WinHttpCrackUrl on Windows and the own splitter on Linux
// must come to the same answers.
const OriginCase kCases[] = {
    // Loopback names, any port; the echo leaves out the default port and any path.
    {"http://localhost", true, "http://localhost"},
    {"http://localhost:8080", true, "http://localhost:8080"},
    {"http://localhost:80", true, "http://localhost"},
    {"http://localhost:443", true, "http://localhost:443"},
    {"https://localhost", true, "https://localhost"},
    {"https://localhost:443", true, "https://localhost"},
    {"https://localhost:80", true, "https://localhost:80"},
    {"http://127.0.0.1:3000", true, "http://127.0.0.1:3000"},
    {"http://127.0.0.1", true, "http://127.0.0.1"},
    {"http://localhost/page", true, "http://localhost"},
    {"http://localhost:8080/p?q=1#f", true, "http://localhost:8080"},
    {"HTTP://localhost", true, "http://localhost"},
    {"http://localhost:", true, "http://localhost"},
    {"http://localhost:08080", true, "http://localhost:8080"},
    // User information is not the host.
    {"http://user:pw@localhost:81", true, "http://localhost:81"},
    {"http://evil.example@localhost", true, "http://localhost"},
    {"http://localhost@evil.example", false, ""},
    {"http://localhost:80@evil.example", false, ""},
    {"http://localhost@evil.example/@localhost", false, ""},
    // Other hosts, and names that only look like the loopback.
    {"http://LOCALHOST", false, ""},
    {"http://127.0.0.2", false, ""},
    {"http://evil.example", false, ""},
    {"http://localhost.evil.example", false, ""},
    {"http://127.0.0.1.evil.example", false, ""},
    {"http://localhost ", false, ""},
    {"http://localhost?x=1", false, ""},
    {"http://[::1]:8080", false, ""},
    {"http://localhost:99999", false, ""},
    {"http://localhost\xFF", false, ""},
    // Not an absolute http or https URL.
    {"null", false, ""},
    {"file:///C:/x.html", false, ""},
    {"localhost:8080", false, ""},
    {"ftp://localhost", false, ""},
    {"http://", false, ""},
    {" http://localhost", false, ""},
    {"http:localhost", false, ""},
    {"http:/localhost", false, ""},
    // The web domains: names below them on the default port only; never the bare domain.
    {"http://www" + kSuffix1, true, "http://www" + kSuffix1},
    {"https://a.b" + kSuffix2, true, "https://a.b" + kSuffix2},
    {"https://www" + kSuffix1 + ":443/x", true, "https://www" + kSuffix1},
    {"http://www" + kSuffix1 + ":8080", false, ""},
    {"https://www" + kSuffix2 + ":80", false, ""},
    {"http://" + kBare1, false, ""},
    {"http://evil" + kBare1, false, ""},
    {"http://www" + kSuffix1 + ".", false, ""},
    {"http://www" + kSuffix1 + ".evil.example", false, ""},
    {"http://WWW.TOVELGAMES.EXAMPLE", false, ""},
    // Any name a host may hold, underscores and other marks included.
    {"http://my_page" + kSuffix1, true, "http://my_page" + kSuffix1},
    {"https://_a.b_c-d~e" + kSuffix2, true, "https://_a.b_c-d~e" + kSuffix2},
    {"http://my_page" + kSuffix1 + ":8080", false, ""},
    {"http://local_host", false, ""},
    // What a splitter leaves in the host must not pass on its ending.
    {"http://evil.example#" + kSuffix1, false, ""},
    {"https://a.:" + kSuffix1 + ":443", false, ""},
    {"http://evil.example?" + kSuffix1, false, ""},
    {"http://evil.example\\" + kSuffix1, false, ""},
    {"http://evil.example%2F" + kSuffix1, false, ""},
    {"http://evil.example " + kSuffix1, false, ""},
    {"http://evil.example\t" + kSuffix1, false, ""},
    {"http://evil.example\x7F" + kSuffix1, false, ""},
    {"http://\xC3\xA9" + kSuffix1, false, ""},
};

TEST(OriginPolicy, Table) {
  ScopedSwitch off(kSwitch, nullptr);
  for (const auto& c : kCases) {
    std::string echoed;
    EXPECT_EQ(check_origin(c.origin, echoed), c.allowed) << c.origin;
    if (c.allowed) {
      EXPECT_EQ(echoed, c.echoed) << c.origin;
    }
  }
}

TEST(OriginPolicy, NoOriginIsRefused) {
  ScopedSwitch off(kSwitch, nullptr);
  std::string echoed;
  EXPECT_FALSE(check_origin("", echoed));
}

// Only exactly "1" lets every origin through, echoed as received; read at every call.
TEST(OriginPolicy, IgnoreSwitch) {
  for (const char* value : {"true", "01", "1 ", "yes", "0"}) {
    ScopedSwitch on(kSwitch, value);
    std::string echoed;
    EXPECT_FALSE(check_origin("http://evil.example", echoed)) << value;
    EXPECT_FALSE(check_origin("", echoed)) << value;
  }
  ScopedSwitch on(kSwitch, "1");
  for (const char* origin : {"http://evil.example", "null", "", "http://localhost:80/x"}) {
    std::string echoed = "stale";
    EXPECT_TRUE(check_origin(origin, echoed)) << origin;
    EXPECT_EQ(echoed, origin);
  }
}

}  // namespace
}  // namespace server
}  // namespace http
