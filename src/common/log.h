// Diagnostic lines on the standard error stream. Every line is written as UTF-8
// bytes, on every build; wide values are converted by the caller (WideToUtf8) before
// they are formatted.
#pragma once
#include <string>

// Makes the standard error stream unbuffered (and binary on Windows), so that no
// line is lost when the process is killed. Called first thing at start.
void PrepareDiagnostics();

// printf-style; "%s" arguments are UTF-8 text. Written at once, in one write, unless
// a LogBatch of this thread holds it.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While one lives, the lines this thread logs are held and written together when it
// ends, so a step of the event loop that logs a few lines costs one write. For short
// steps only: before the step lets anything out (a reply, a kill), it calls
// WriteHeldLines(), so every line is in the file before what follows from it.
// Batches nest; the outermost writes.
class LogBatch {
 public:
  LogBatch();
  ~LogBatch();
  LogBatch(const LogBatch&) = delete;
  LogBatch& operator=(const LogBatch&) = delete;

 private:
  std::string lines;  // the outermost batch's
  bool outermost;
};

// Writes what a batch of this thread holds; nothing to do without one.
void WriteHeldLines();
