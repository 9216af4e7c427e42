#include "common/log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

// The lines of this thread's outermost batch; null while it has none.
thread_local std::string* held = nullptr;

void Emit(const char* text, size_t size) {
  if (held) {
    held->append(text, size);
  } else {
    fwrite(text, 1, size, stderr);
  }
}

}  // namespace

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
    Emit(small, static_cast<size_t>(n));
  } else {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&big[0], big.size(), format, again);
    Emit(big.data(), static_cast<size_t>(n));
  }
  va_end(again);
}

LogBatch::LogBatch() : outermost(held == nullptr) {
  if (!outermost) return;
  lines.reserve(1024);  // a step's few lines, without growing the buffer line by line
  held = &lines;
}

LogBatch::~LogBatch() {
  if (!outermost) return;
  WriteHeldLines();
  held = nullptr;
}

void WriteHeldLines() {
  if (!held || held->empty()) return;
  fwrite(held->data(), 1, held->size(), stderr);
  held->clear();
}
