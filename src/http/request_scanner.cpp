#include "http/request_scanner.h"

#include <limits>

namespace http {
namespace server {

namespace {

bool is_control(unsigned char c) { return c <= 31 || c == 127; }

bool is_separator(unsigned char c) {
  switch (c) {
    case '\t': case ' ': case '"': case '(': case ')': case ',': case '/':
    case ':': case ';': case '<': case '=': case '>': case '?': case '@':
    case '[': case '\\': case ']': case '{': case '}':
      return true;
    default:
      return false;
  }
}

bool is_token(unsigned char c) { return c <= 127 && !is_control(c) && !is_separator(c); }

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// The version numbers are never used, but a long run of digits must not overflow:
// they stop at the largest value.
void add_digit(int32_t& number, unsigned char digit) {
  constexpr int32_t top = std::numeric_limits<int32_t>::max();
  const int32_t d = digit - '0';
  number = number > (top - d) / 10 ? top : number * 10 + d;
}

}  // namespace

scan_result request_scanner::step(incoming_request& request, unsigned char c) {
  if (head_bytes_ >= max_head_) return scan_result::malformed;
  ++head_bytes_;

  switch (state_) {
    case state::verb_first:
      if (!is_token(c)) return scan_result::malformed;
      request.verb.push_back(static_cast<char>(c));
      state_ = state::verb_rest;
      return scan_result::need_more;

    case state::verb_rest:
      if (c == ' ') {
        state_ = state::target_text;
      } else if (is_token(c)) {
        request.verb.push_back(static_cast<char>(c));
      } else {
        return scan_result::malformed;
      }
      return scan_result::need_more;

    case state::target_text:
      if (c == ' ') {
        state_ = state::version_h;
      } else if (!is_control(c)) {
        request.target.push_back(static_cast<char>(c));
      } else {
        return scan_result::malformed;
      }
      return scan_result::need_more;

    case state::version_h:
      if (c != 'H') return scan_result::malformed;
      state_ = state::version_t1;
      return scan_result::need_more;

    case state::version_t1:
      if (c != 'T') return scan_result::malformed;
      state_ = state::version_t2;
      return scan_result::need_more;

    case state::version_t2:
      if (c != 'T') return scan_result::malformed;
      state_ = state::version_p;
      return scan_result::need_more;

    case state::version_p:
      if (c != 'P') return scan_result::malformed;
      state_ = state::version_slash;
      return scan_result::need_more;

    case state::version_slash:
      if (c != '/') return scan_result::malformed;
      request.version_major = 0;
      request.version_minor = 0;
      state_ = state::major_first;
      return scan_result::need_more;

    case state::major_first:
      if (!is_digit(c)) return scan_result::malformed;
      add_digit(request.version_major, c);
      state_ = state::major_rest;
      return scan_result::need_more;

    case state::major_rest:
      if (c == '.') {
        state_ = state::minor_first;
      } else if (is_digit(c)) {
        add_digit(request.version_major, c);
      } else {
        return scan_result::malformed;
      }
      return scan_result::need_more;

    case state::minor_first:
      if (!is_digit(c)) return scan_result::malformed;
      add_digit(request.version_minor, c);
      state_ = state::minor_rest;
      return scan_result::need_more;

    case state::minor_rest:
      if (c == '\r') {
        state_ = state::request_line_lf;
      } else if (is_digit(c)) {
        add_digit(request.version_minor, c);
      } else {
        return scan_result::malformed;
      }
      return scan_result::need_more;

    case state::request_line_lf:
      if (c != '\n') return scan_result::malformed;
      state_ = state::field_line_start;
      return scan_result::need_more;

    case state::field_line_start:
      if (c == '\r') {
        state_ = state::final_lf;
      } else if ((c == ' ' || c == '\t') && !request.fields.empty()) {
        state_ = state::field_fold;
      } else if (is_token(c)) {
        request.fields.emplace_back();
        request.fields.back().name.push_back(static_cast<char>(c));
        state_ = state::field_name;
      } else {
        return scan_result::malformed;
      }
      return scan_result::need_more;

    case state::field_fold:
      if (c == '\r') {
        state_ = state::field_line_lf;
      } else if (c == ' ' || c == '\t') {
        // leading blanks of a continuation line are dropped
      } else if (!is_control(c)) {
        request.fields.back().value.push_back(static_cast<char>(c));
        state_ = state::field_value;
      } else {
        return scan_result::malformed;
      }
      return scan_result::need_more;

    case state::field_name:
      if (c == ':') {
        state_ = state::field_colon_space;
      } else if (is_token(c)) {
        request.fields.back().name.push_back(static_cast<char>(c));
      } else {
        return scan_result::malformed;
      }
      return scan_result::need_more;

    case state::field_colon_space:
      if (c != ' ') return scan_result::malformed;
      state_ = state::field_value;
      return scan_result::need_more;

    case state::field_value:
      if (c == '\r') {
        state_ = state::field_line_lf;
      } else if (!is_control(c)) {
        request.fields.back().value.push_back(static_cast<char>(c));
      } else {
        return scan_result::malformed;
      }
      return scan_result::need_more;

    case state::field_line_lf:
      if (c != '\n') return scan_result::malformed;
      state_ = state::field_line_start;
      return scan_result::need_more;

    case state::final_lf:
      if (c != '\n') return scan_result::malformed;
      return scan_result::complete;
  }
  return scan_result::malformed;
}

scan_outcome scan(request_scanner& scanner, incoming_request& request, const char* first, const char* last) {
  for (; first != last; ++first) {
    scan_result r = scanner.step(request, static_cast<unsigned char>(*first));
    if (r != scan_result::need_more) return {r, first + 1};
  }
  return {scan_result::need_more, last};
}

}  // namespace server
}  // namespace http
