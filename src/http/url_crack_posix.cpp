#include "http/url_crack.h"

namespace http {
namespace server {

namespace {

bool is_alpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool equals_ignoring_case(const WideString& text, const char* lower) {
  std::size_t i = 0;
  for (; lower[i]; ++i) {
    if (i >= text.size()) return false;
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(lower[i])) return false;
  }
  return i == text.size();
}

}  // namespace

// scheme "://" [user-info "@"] host [":" [port]] ["/" ...]. The host runs up to the
// first slash, as the Windows splitter measured under Wine does; the origin policy
// refuses hosts that hold anything but name characters.
bool crack_url(const WideString& url, cracked_url& out) {
  const std::size_t marker = url.find(u"://");
  if (marker == WideString::npos || marker == 0) return false;
  const WideString scheme = url.substr(0, marker);
  if (!is_alpha(scheme[0])) return false;
  int default_port;
  if (equals_ignoring_case(scheme, "http")) {
    out.scheme = url_scheme::http;
    default_port = 80;
  } else if (equals_ignoring_case(scheme, "https")) {
    out.scheme = url_scheme::https;
    default_port = 443;
  } else {
    return false;  // a scheme it does not know is not a URL it can crack
  }

  const std::size_t begin = marker + 3;
  std::size_t end = url.find(u'/', begin);
  if (end == WideString::npos) end = url.size();
  WideString authority = url.substr(begin, end - begin);

  const std::size_t at = authority.rfind(u'@');
  if (at != WideString::npos) authority.erase(0, at + 1);

  WideString host;
  WideString port_text;
  bool has_port = false;
  if (!authority.empty() && authority[0] == u'[') {
    const std::size_t close = authority.find(u']');
    if (close == WideString::npos) return false;
    host = authority.substr(0, close + 1);
    const WideString rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != u':') return false;
      has_port = true;
      port_text = rest.substr(1);
    }
  } else {
    const std::size_t colon = authority.rfind(u':');
    if (colon != WideString::npos) {
      has_port = true;
      port_text = authority.substr(colon + 1);
      host = authority.substr(0, colon);
    } else {
      host = authority;
    }
  }
  if (host.empty()) return false;

  int port = default_port;
  if (has_port && !port_text.empty()) {
    port = 0;
    for (char16_t c : port_text) {
      if (!is_digit(c)) return false;
      port = port * 10 + (c - u'0');
      if (port > 65535) return false;
    }
  }

  out.host = host;
  out.port = port;
  return true;
}

}  // namespace server
}  // namespace http
