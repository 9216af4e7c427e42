// Which pages may talk to the helper: pages on the loopback host (any port) and pages
// below the service's two web domains (default port only). The answer also gives the
// origin to name in Access-Control-Allow-Origin.
#pragma once
#include <string>

namespace http {
namespace server {

// The two web-domain suffixes of this build, each beginning with a dot.
extern const char* const kWebDomainSuffixes[2];

// allowed_origin becomes scheme://host[:port] as cracked (the port only when it is not
// the scheme's default), or the origin as received when
// TOVELWEBHELPER_IGNORE_ORIGIN_HEADER is "1" (read at every call).
bool check_origin(const std::string& origin, std::string& allowed_origin);

}  // namespace server
}  // namespace http
