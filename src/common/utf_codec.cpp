#include "common/utf_codec.h"

namespace {
constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}
}  // namespace

// A lead byte fixes the length of its sequence. The first continuation byte is taken
// before the range check (overlong forms, surrogates, beyond U+10FFFF), so such a
// pair is replaced by one U+FFFD; a sequence cut short by any other byte is one
// U+FFFD and the byte that cut it is read afresh. This is what the system's UTF-8
// code page does.
std::u16string DecodeUtf8(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    unsigned char lead = static_cast<unsigned char>(bytes[i++]);
    if (lead < 0x80) {
      out.push_back(lead);
      continue;
    }
    int more;
    char32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      cp = lead & 0x07;
    } else {
      out.push_back(kReplacement);
      continue;
    }
    bool valid = true;
    for (int k = 0; k < more; ++k) {
      if (i >= n || !IsContinuation(static_cast<unsigned char>(bytes[i]))) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(bytes[i++]) & 0x3F);
      if (k == 0) {
        if (more == 2 && (cp < 0x20 || (cp >= 0x360 && cp < 0x380))) valid = false;
        if (more == 3 && (cp < 0x10 || cp >= 0x110)) valid = false;
        if (!valid) break;
      }
    }
    if (valid) {
      AppendCodePoint(out, cp);
    } else {
      out.push_back(kReplacement);
    }
  }
  return out;
}

std::string EncodeUtf8(const std::u16string& units) {
  std::string out;
  out.reserve(units.size());
  const size_t n = units.size();
  for (size_t i = 0; i < n; ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}
