// The origin policy and its URL splitter on any Origin value. A split URL has a host
// and a port that fits; an allowed origin is echoed in Access-Control-Allow-Origin, so
// it must be exactly scheme://host[:port] with a host of visible ASCII that holds
// nothing a split could have left in it (no blank, control byte, @ ? # \ % / or colon),
// and must itself be allowed, unchanged.
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "http/origin_policy.h"
#include "http/url_crack.h"

using namespace http::server;

namespace {

bool IsNameChar(char c) {
  if (c <= ' ' || c >= 0x7f) return false;  // blanks, control bytes, DEL, beyond ASCII (char may be signed)
  for (char bad : std::string("@?#\\%/:"))
    if (c == bad) return false;
  return true;
}

bool IsEchoableOrigin(const std::string& origin) {
  size_t at;
  if (origin.compare(0, 7, "http://") == 0) {
    at = 7;
  } else if (origin.compare(0, 8, "https://") == 0) {
    at = 8;
  } else {
    return false;
  }
  const size_t host_start = at;
  while (at < origin.size() && IsNameChar(origin[at])) ++at;
  if (at == host_start) return false;
  if (at == origin.size()) return true;
  if (origin[at] != ':' || at + 1 == origin.size()) return false;
  for (++at; at < origin.size(); ++at) {
    if (origin[at] < '0' || origin[at] > '9') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  unsetenv("TOVELWEBHELPER_IGNORE_ORIGIN_HEADER");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string origin(reinterpret_cast<const char*>(data), size);

  cracked_url url;
  if (crack_url(origin, url)) {
    FUZZ_CHECK(!url.host.empty());
    FUZZ_CHECK(url.port >= 0 && url.port <= 65535);
    FUZZ_CHECK(url.scheme != url_scheme::other);
  }

  std::string allowed;
  if (check_origin(origin, allowed)) {
    FUZZ_CHECK(IsEchoableOrigin(allowed));
    std::string again;
    FUZZ_CHECK(check_origin(allowed, again));
    FUZZ_CHECK(again == allowed);
  }
  return 0;
}
