// The split checked against the system's own CommandLineToArgvW.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "common/text.h"
#include "launcher/windows_arguments.h"

namespace {
std::vector<std::string> SystemSplit(const std::string& text) {
  const WideString line = u"prog.exe " + Utf8ToWide(text);
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(line.c_str()), &count);
  std::vector<std::string> args;
  for (int i = 1; argv && i < count; ++i) args.push_back(WideToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  LocalFree(argv);
  return args;
}

TEST(SplitWindowsArguments, AgreesWithTheSystemOnEveryShortText) {
  const char alphabet[] = {'a', ' ', '"', '\\'};
  std::vector<std::string> texts{""};
  for (size_t begin = 0, len = 1; len <= 6; ++len) {
    const size_t end = texts.size();
    for (size_t i = begin; i < end; ++i) {
      for (char c : alphabet) texts.push_back(texts[i] + c);
    }
    begin = end;
  }
  for (const std::string& text : texts) {
    ASSERT_EQ(SplitWindowsArguments(text), SystemSplit(text)) << "text: [" << text << "]";
  }
}

TEST(SplitWindowsArguments, AgreesWithTheSystemOnTabsAndWideText) {
  const char* texts[] = {"a\tb", "\"a\tb\"", "\t\"\"\t", "\xc3\xa9\\\"\xe4\xb8\xad \"x y\"\\\\"};
  for (const char* text : texts) {
    EXPECT_EQ(SplitWindowsArguments(text), SystemSplit(text)) << "text: [" << text << "]";
  }
}
}  // namespace
