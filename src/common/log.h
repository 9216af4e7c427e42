// Diagnostic lines on the standard error stream. Every line is written as UTF-8
// bytes, in one write, on every build; wide values are converted by the caller
// (WideToUtf8) before they are formatted.
#pragma once

// Makes the standard error stream unbuffered (and binary on Windows), so that no
// line is lost when the process is killed. Called first thing at start.
void PrepareDiagnostics();

// printf-style; "%s" arguments are UTF-8 text.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
