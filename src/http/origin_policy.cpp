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

// Only a plain host name or IPv4 address may pass: what a splitter leaves in the host
// beyond that ("evil.test#.suffix", "localhost?x") must not match by its ending.
bool is_plain_host(const WideString& host) {
  for (char16_t c : host) {
    bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' ||
              c == u'.';
    if (!ok) return false;
  }
  return true;
}

bool ends_with(const WideString& text, const char* ascii_suffix) {
  const WideString suffix = Widen(ascii_suffix);
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool check_origin(const std::string& origin, std::string& allowed_origin) {
  if (ignore_origin_switch_on()) {
    allowed_origin = origin;
    return true;
  }
  if (origin.empty()) return false;

  // Text that is not UTF-8 would be changed by the conversion: refuse it rather than
  // judge (and echo) something the page did not send.
  const WideString wide = Utf8ToWide(origin);
  if (WideToUtf8(wide) != origin) return false;

  cracked_url url;
  if (!crack_url(wide, url)) return false;
  if (url.scheme == url_scheme::other) return false;

  const bool https = url.scheme == url_scheme::https;
  const int default_port = https ? 443 : 80;
  allowed_origin = https ? "https://" : "http://";
  allowed_origin += WideToUtf8(url.host);
  if (url.port != default_port) {
    allowed_origin += ':';
    allowed_origin += std::to_string(url.port);
  }

  if (!is_plain_host(url.host)) return false;
  if (ends_with(url.host, kWebDomainSuffixes[0]) || ends_with(url.host, kWebDomainSuffixes[1])) {
    return url.port == default_port;
  }
  return url.host == u"127.0.0.1" || url.host == u"localhost";
}

}  // namespace server
}  // namespace http
