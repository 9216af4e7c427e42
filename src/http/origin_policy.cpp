#include "http/origin_policy.h"

#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "http/url_crack.h"
#include "web_domains.h"

namespace http {
namespace server {

const char* const kWebDomainSuffixes[2] = {TOVEL_WEB_DOMAIN_SUFFIX_1, TOVEL_WEB_DOMAIN_SUFFIX_2};

namespace {

bool ignore_origin_switch_on() {
  const char* value = std::getenv("TOVELWEBHELPER_IGNORE_ORIGIN_HEADER");
  return value && std::strcmp(value, "1") == 0;
}

// Text that is not UTF-8 would be changed by the conversions: it is refused rather
// than judged (and echoed) as something the page did not send.
bool is_utf8(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return WideToUtf8(Utf8ToWide(text)) == text;
  }
  return true;
}

// A splitter stops the host at the first slash, so what it may leave inside one is
// whatever a browser's parser would have cut elsewhere: user information ("@"), a
// query or fragment ("?", "#"), the other slash ("\\"), escapes ("%"), a colon that
// was not the port's (a splitter takes the last one) and blanks or
// control bytes. Such a host ("evil.test#.suffix", "localhost?x") must not match by
// its ending. Everything else a host name may hold passes, underscores included.
// Bytes beyond ASCII are refused too: a browser sends a host in its ASCII form.
bool is_plain_host(const std::string& host) {
  for (char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) return false;
    if (c == '@' || c == '?' || c == '#' || c == '\\' || c == '%' || c == '/' || c == ':') return false;
  }
  return true;
}

bool ends_with(const std::string& text, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

}  // namespace

bool check_origin(const std::string& origin, std::string& allowed_origin) {
  if (ignore_origin_switch_on()) {
    allowed_origin = origin;
    return true;
  }
  if (origin.empty() || !is_utf8(origin)) return false;

  cracked_url url;
  if (!crack_url(origin, url)) return false;
  if (url.scheme == url_scheme::other) return false;

  const bool https = url.scheme == url_scheme::https;
  const int default_port = https ? 443 : 80;
  allowed_origin = https ? "https://" : "http://";
  allowed_origin += url.host;
  if (url.port != default_port) {
    allowed_origin += ':';
    allowed_origin += std::to_string(url.port);
  }

  if (!is_plain_host(url.host)) return false;
  if (ends_with(url.host, kWebDomainSuffixes[0]) || ends_with(url.host, kWebDomainSuffixes[1])) {
    return url.port == default_port;
  }
  return url.host == "127.0.0.1" || url.host == "localhost";
}

}  // namespace server
}  // namespace http
