// Splits an absolute http or https URL into scheme, host and port, for the origin
// policy. The Windows build asks WinHttpCrackUrl, the Linux build a splitter of its
// own; both fail on text that is not an absolute URL.
#pragma once
#include <string>

namespace http {
namespace server {

enum class url_scheme { http, https, other };

struct cracked_url {
  url_scheme scheme = url_scheme::other;
  std::string host;  // UTF-8, as written: case kept, user information left out
  int port = 0;      // the scheme's default when the URL names none
};

// url: UTF-8.
bool crack_url(const std::string& url, cracked_url& out);

}  // namespace server
}  // namespace http
