// The text a poll answers for an event, built from any ten wide fields (the game's
// frame name and words may hold any bytes, and wide text any code units, unpaired
// surrogates included). It must be well-formed UTF-8: each field converted, each
// followed by a tab, the whole cut at the first NUL.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "common/text.h"
#include "fuzz_check.h"
#include "web/event_text.h"

namespace {

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (s.size() - i <= n) return false;
    for (size_t k = 1; k <= n; ++k) {
      const unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

WideString WideField(FuzzedDataProvider& in) {
  const std::string bytes = in.ConsumeRandomLengthString(64);
  WideString field;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    field.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  QueuedEvent e;
  WideString* fields[] = {&e.gameId, &e.eventName, &e.param1, &e.param2, &e.param3,
                          &e.param4, &e.param5,   &e.param6, &e.param7, &e.param8};
  for (WideString* f : fields) *f = WideField(in);

  const std::string text = EventText(e);
  FUZZ_CHECK(IsUtf8(text));

  std::string expected;
  for (const WideString* f : fields) {
    const size_t nul = f->find(u'\0');
    expected += WideToUtf8(f->substr(0, nul));
    if (nul != WideString::npos) break;
    expected += '\t';
  }
  FUZZ_CHECK(text == expected);
  return 0;
}
