// The request parser: turns received bytes into an incoming_request one byte at a
// time, keeping its place between chunks, so a head may arrive in any number of
// pieces. It reads the request line and the header lines up to the empty line and
// never a body.
#pragma once
#include <cstddef>

#include "http/request.h"

namespace http {
namespace server {

// A head longer than this is refused as malformed rather than grown without end.
constexpr std::size_t kMaxRequestHead = 64 * 1024;

enum class scan_result { complete, malformed, need_more };

class request_scanner {
 public:
  enum class state {
    verb_first, verb_rest, target_text,
    version_h, version_t1, version_t2, version_p, version_slash,
    major_first, major_rest, minor_first, minor_rest,
    request_line_lf, field_line_start, field_fold, field_name,
    field_colon_space, field_value, field_line_lf, final_lf,
  };

  explicit request_scanner(std::size_t max_head = kMaxRequestHead) : max_head_(max_head) {}

  // One byte: complete, malformed or need_more.
  scan_result step(incoming_request& request, unsigned char byte);

  state current() const { return state_; }

 private:
  state state_ = state::verb_first;
  std::size_t head_bytes_ = 0;
  std::size_t max_head_;
};

struct scan_outcome {
  scan_result result;
  const char* next;  // just after the byte that decided, or last
};

// Feeds [first, last) until a byte completes or spoils the head.
scan_outcome scan(request_scanner& scanner, incoming_request& request, const char* first, const char* last);

}  // namespace server
}  // namespace http
