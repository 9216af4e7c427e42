// The UTF-8 <-> UTF-16 codec used where the system provides none. It gives the
// same results as the Windows code-page conversion for UTF-8 without flags.
#pragma once
#include <string>

std::u16string DecodeUtf8(const std::string& bytes);
std::string EncodeUtf8(const std::u16string& units);
