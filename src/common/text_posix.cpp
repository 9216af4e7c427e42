#include "common/text.h"
#include "common/utf_codec.h"

namespace {
template <typename S> S CutAtNul(S s) {
  auto nul = s.find(typename S::value_type(0));
  if (nul != S::npos) s.resize(nul);
  return s;
}
}  // namespace

WideString Utf8ToWide(const std::string& utf8) { return CutAtNul(DecodeUtf8(CutAtNul(utf8))); }

std::string WideToUtf8(const WideString& wide) { return CutAtNul(EncodeUtf8(CutAtNul(wide))); }
