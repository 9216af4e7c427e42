#include "common/text.h"
#include "common/utf_codec.h"

#include <gtest/gtest.h>

#include <random>

namespace {

struct DecodeCase {
  const char* what;
  std::string in;
  std::u16string out;
};

// Measured against the Windows conversion (under Wine); the Linux codec must agree.
const DecodeCase kDecodeCases[] = {
    {"ascii", "GameId", u"GameId"},
    {"empty", "", u""},
    {"two-byte", "caf\xC3\xA9", u"caf\u00E9"},
    {"three-byte", "\xE4\xB8\xAD", u"\u4E2D"},
    {"four-byte becomes a surrogate pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
    {"highest code point", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
    {"noncharacter kept", "\xEF\xBF\xBF", u"\xFFFF"},
    {"cut at the first NUL", std::string("ab\0cd", 5), u"ab"},
    {"leading NUL gives nothing", std::string("\0x", 2), u""},
    {"bad continuation", "\xC3(", u"\xFFFD("},
    {"overlong lead C0", "\xC0\xAF", u"\xFFFD\xFFFD"},
    {"overlong lead C1", "\xC1\xBF", u"\xFFFD\xFFFD"},
    {"truncated three-byte at end", "\xE2\x82", u"\xFFFD"},
    {"truncated three-byte before ascii", "\xE1\x80" "A", u"\xFFFD" u"A"},
    {"encoded surrogate", "\xED\xA0\x80", u"\xFFFD\xFFFD"},
    {"encoded low surrogate then ascii", "\xED\xBF\xBF" "A", u"\xFFFD\xFFFD" u"A"},
    {"overlong three-byte", "\xE0\x80\x80", u"\xFFFD\xFFFD"},
    {"overlong four-byte", "\xF0\x80\x80\x80", u"\xFFFD\xFFFD\xFFFD"},
    {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD"},
    {"lead F5", "\xF5\x80\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
    {"truncated four-byte", "\xF0\x9F\x98", u"\xFFFD"},
    {"truncated four-byte inside", "\xF0\x9F\x98" "A", u"\xFFFD" u"A"},
    {"stray continuations", "\x80\x80", u"\xFFFD\xFFFD"},
    {"byte FF", "\xFF", u"\xFFFD"},
    {"five-byte form", "a\xF8\x88\x80\x80\x80z", u"a\xFFFD\xFFFD\xFFFD\xFFFD\xFFFDz"},
};

TEST(TextConversion, Utf8ToWideTable) {
  for (const auto& c : kDecodeCases) EXPECT_EQ(Utf8ToWide(c.in), c.out) << c.what;
}

struct EncodeCase {
  const char* what;
  std::u16string in;
  std::string out;
};

const EncodeCase kEncodeCases[] = {
    {"ascii", u"MARBLE-GAME", "MARBLE-GAME"},
    {"bmp", u"caf\u00E9 \u4E2D", "caf\xC3\xA9 \xE4\xB8\xAD"},
    {"surrogate pair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
    {"lone high surrogate", u"\xD800", "\xEF\xBF\xBD"},
    {"lone low surrogate inside", u"a\xDC00z", "a\xEF\xBF\xBDz"},
    {"high surrogate before ascii", u"\xD83Dx", "\xEF\xBF\xBDx"},
    {"cut at the first NUL", std::u16string(u"ab\0cd", 5), "ab"},
};

TEST(TextConversion, WideToUtf8Table) {
  for (const auto& c : kEncodeCases) EXPECT_EQ(WideToUtf8(c.in), c.out) << c.what;
}

// Wine's conversion drops everything after a lead byte whose sequence would run past
// the terminating NUL ("\xF1\x7F" gives only U+FFFD); the codec keeps those bytes.
bool LeadRunsPastTheEnd(const std::string& cut) {
  const size_t n = cut.size() + 1;  // with the terminating NUL
  for (size_t i = 0; i < cut.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(cut[i]);
    size_t more = (b >= 0xC2 && b <= 0xDF) ? 1 : (b >= 0xE0 && b <= 0xEF) ? 2 : (b >= 0xF0 && b <= 0xF4) ? 3 : 0;
    if (more && i + 1 + more > n) return true;
  }
  return false;
}

// On Windows Utf8ToWide is the system's conversion: the codec must give the same
// result for any bytes, not only for the cases above.
TEST(TextConversion, CodecAgreesWithTheSystemOnRandomBytes) {
  std::mt19937 rng(1234);
  const unsigned char interesting[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2,
                                       0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xFF};
  for (int round = 0; round < 3000; ++round) {
    std::string s;
    size_t len = rng() % 8;
    for (size_t i = 0; i < len; ++i) {
      s.push_back(static_cast<char>(rng() % 2 ? interesting[rng() % sizeof interesting] : rng() % 256));
    }
    std::string cut = s.substr(0, s.find('\0'));
    if (LeadRunsPastTheEnd(cut)) continue;
    ASSERT_EQ(DecodeUtf8(cut), Utf8ToWide(s)) << "bytes: " << testing::PrintToString(s);
  }
}

TEST(TextConversion, RoundTripOfValidText) {
  std::string text = "Pipe \xE2\x86\x92 game \xF0\x9F\x8E\xB2 caf\xC3\xA9";
  EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text);
  EXPECT_EQ(Widen("wWinMain"), u"wWinMain");
}

}  // namespace
