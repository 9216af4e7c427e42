#include "http/url_crack.h"

#include <string_view>

namespace http {
namespace server {

namespace {

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_case(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

}  // namespace

// scheme "://" [user-info "@"] host [":" [port]] ["/" ...]. The host runs up to the
// first slash, as the Windows splitter measured under Wine does; the origin policy
// refuses hosts that hold anything but name characters.
bool crack_url(const std::string& text, cracked_url& out) {
  const std::string_view url(text);
  const std::size_t marker = url.find("://");
  if (marker == std::string_view::npos || marker == 0) return false;
  const std::string_view scheme = url.substr(0, marker);
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

  std::string_view authority = url.substr(marker + 3);
  authority = authority.substr(0, authority.find('/'));
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);

  std::string_view host = authority;
  std::string_view port_text;
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      port_text = rest.substr(1);
    }
  } else {
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
      host = authority.substr(0, colon);
      port_text = authority.substr(colon + 1);
    }
  }
  if (host.empty()) return false;

  int port = default_port;
  if (!port_text.empty()) {
    port = 0;
    for (char c : port_text) {
      if (!is_digit(c)) return false;
      port = port * 10 + (c - '0');
      if (port > 65535) return false;
    }
  }

  out.host.assign(host);
  out.port = port;
  return true;
}

}  // namespace server
}  // namespace http
