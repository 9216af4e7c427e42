// Text conversion between narrow (UTF-8) and wide (UTF-16) strings.
// Invalid input is replaced, never refused, and every result ends at its first NUL.
#pragma once
#include <string>

using WideString = std::u16string;

WideString Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const WideString& wide);

// ASCII-only literals and numbers in wide form.
WideString Widen(const char* ascii);
