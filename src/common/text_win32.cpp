#include "common/text.h"

#include <windows.h>

#include <algorithm>

// The whole string goes through with its terminating NUL, as the system converts it,
// and the result is cut at the first NUL of its own.
WideString Utf8ToWide(const std::string& utf8) {
  // Every byte gives at most one UTF-16 unit, so this is always room enough. The
  // size query is not used: under Wine it undercounts some invalid sequences.
  int in = static_cast<int>(utf8.size()) + 1;
  WideString out(static_cast<size_t>(in), u'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), in, reinterpret_cast<wchar_t*>(&out[0]), in);
  if (n <= 0) return WideString();
  out.resize(std::min(out.find(u'\0'), static_cast<size_t>(n)));
  return out;
}

std::string WideToUtf8(const WideString& wide) {
  int in = static_cast<int>(wide.size()) + 1;
  const wchar_t* src = reinterpret_cast<const wchar_t*>(wide.c_str());
  int n = WideCharToMultiByte(CP_UTF8, 0, src, in, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, src, in, &out[0], n, nullptr, nullptr);
  out.resize(std::min(out.find('\0'), out.size()));
  return out;
}
