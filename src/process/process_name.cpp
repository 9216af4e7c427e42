#include "process/process_name.h"

namespace {
char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }
}  // namespace

bool ProcessNameMatches(const WideString& listedName, const WideString& wantedName) {
  const size_t slash = listedName.rfind(u'\\');
  const size_t start = slash == WideString::npos ? 0 : slash + 1;
  if (listedName.size() - start != wantedName.size()) return false;
  for (size_t i = 0; i < wantedName.size(); ++i) {
    if (FoldAscii(listedName[start + i]) != FoldAscii(wantedName[i])) return false;
  }
  return true;
}
