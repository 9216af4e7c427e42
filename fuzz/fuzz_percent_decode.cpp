// Percent decoding of a request target. Any bytes: no fault, and a success never
// grows the text. Any bytes escaped as "%XX" (mixed case, a space as "+" or "%20")
// decode back to themselves.
#include <string>

#include "fuzz_check.h"
#include "http/request_dispatcher.h"

namespace {

std::string Escape(const std::string& raw) {
  static const char upper[] = "0123456789ABCDEF";
  static const char lower[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    const char* digits = (i % 2) ? lower : upper;
    if (c == ' ' && i % 3 == 0) {
      out += '+';
    } else if (c == '%' || c == '+' || c == ' ' || i % 5 == 0) {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string decoded;
  if (http::server::percent_decode(text, decoded)) FUZZ_CHECK(decoded.size() <= text.size());

  std::string back = "stale";
  FUZZ_CHECK(http::server::percent_decode(Escape(text), back));
  FUZZ_CHECK(back == text);
  return 0;
}
