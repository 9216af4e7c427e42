#include "common/log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

void Log(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    fwrite(small, 1, static_cast<size_t>(n), stderr);
  } else {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&big[0], big.size(), format, again);
    fwrite(big.data(), 1, static_cast<size_t>(n), stderr);
  }
  va_end(again);
}
