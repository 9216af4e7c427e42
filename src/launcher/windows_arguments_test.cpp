#include "launcher/windows_arguments.h"

#include <gtest/gtest.h>

namespace {
using Args = std::vector<std::string>;

// How a text splits: the quoting and backslash rules of the Windows start-up code.
TEST(SplitWindowsArguments, Rules) {
  struct {
    const char* text;
    Args args;
  } cases[] = {
      {"", {}},
      {"   \t ", {}},
      {"a b\tc", {"a", "b", "c"}},
      {"  a   b  ", {"a", "b"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\" a", {"", "a"}},
      {"a \"\" b", {"a", "", "b"}},
      {"a\\b c\\\\d", {"a\\b", "c\\\\d"}},          // backslashes without a quote are literal
      {"a\\\"b", {"a\"b"}},                         // 1 backslash + quote: literal quote
      {"a\\\\\"b c\"", {"a\\b c"}},                 // 2 + quote: one backslash, quoting starts
      {"a\\\\\\\"b", {"a\\\"b"}},                   // 3 + quote: one backslash, literal quote
      {"\"a\\\\\" b", {"a\\", "b"}},                // quoted text ending in an escaped backslash
      {"a\"\"b", {"ab"}},                           // an empty quoted stretch
      {"\"a\"\"b\"", {"a\"b"}},                     // a doubled quote inside quotes: literal quote
      {"\"\"\"a b\"\"\"", {"\"a", "b\""}},          // three quotes in a row give one
      {"\"unterminated text", {"unterminated text"}},
      {"\xc3\xa9 \"\xe4\xb8\xad x\"", {"\xc3\xa9", "\xe4\xb8\xad x"}},  // UTF-8 passes through
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SplitWindowsArguments(c.text), c.args);
  }
}

TEST(JoinWindowsArguments, QuotesOnlyWhatNeedsIt) {
  struct {
    Args args;
    const char* text;
  } cases[] = {
      {{}, ""},
      {{"a", "b"}, "a b"},
      {{""}, "\"\""},
      {{"a b"}, "\"a b\""},
      {{"a\tb"}, "\"a\tb\""},
      {{"say \"hi\""}, "\"say \\\"hi\\\"\""},
      {{"C:\\dir\\"}, "C:\\dir\\"},                 // no quote needed, backslashes stay as they are
      {{"C:\\my dir\\"}, "\"C:\\my dir\\\\\""},     // before the closing quote they are doubled
      {{"a\\\"b"}, "\"a\\\\\\\"b\""},
      {{"--activate-webhelper", "x"}, "--activate-webhelper x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(JoinWindowsArguments(c.args), c.text);
  }
}

TEST(WindowsArguments, JoinThenSplitGivesTheArgumentsBack) {
  const Args lists[] = {
      {"plain"},
      {"", ""},
      {"a", "", "b"},
      {"trailing space ", " leading"},
      {"\"", "\"\"", "\"\"\""},
      {"\\", "\\\\", "\\\"", "a\\", "a b\\", "a b\\\\"},
      {"x\"y\"z", "q \" q", "\t"},
      {"-server=127.0.0.1:4000", "-name=\xc3\x89lodie M\xc3\xbcller", "C:\\Program Files\\Game\\"},
  };
  for (const Args& args : lists) {
    const std::string text = JoinWindowsArguments(args);
    SCOPED_TRACE(text);
    EXPECT_EQ(SplitWindowsArguments(text), args);
  }
}

// Every argument list over a small alphabet that stresses the rules, up to three
// arguments of up to three characters each.
TEST(WindowsArguments, JoinThenSplitExhaustiveSmallAlphabet) {
  const char alphabet[] = {'a', ' ', '"', '\\', '\t'};
  std::vector<std::string> words{""};
  for (size_t len = 1; len <= 3; ++len) {
    std::vector<std::string> next;
    for (const std::string& w : words) {
      if (w.size() != len - 1) continue;
      for (char c : alphabet) next.push_back(w + c);
    }
    words.insert(words.end(), next.begin(), next.end());
  }
  for (const std::string& a : words) {
    for (const std::string& b : words) {
      const Args args{a, b};
      ASSERT_EQ(SplitWindowsArguments(JoinWindowsArguments(args)), args) << JoinWindowsArguments(args);
    }
  }
}
}  // namespace
