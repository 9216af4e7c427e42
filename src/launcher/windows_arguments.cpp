#include "launcher/windows_arguments.h"

namespace {
bool NeedsQuotes(const std::string& arg) { return arg.empty() || arg.find_first_of(" \t\"") != std::string::npos; }

void AppendQuoted(std::string& out, const std::string& arg) {
  out += '"';
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes only mean something in front of a quote: there they are doubled,
    // and one more escapes the quote itself.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');  // before the closing quote
  out += '"';
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

std::string JoinWindowsArguments(const std::vector<std::string>& args) {
  std::string out;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) out += ' ';
    if (NeedsQuotes(args[i])) {
      AppendQuoted(out, args[i]);
    } else {
      out += args[i];
    }
  }
  return out;
}

std::vector<std::string> SplitWindowsArguments(const std::string& text) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i == n) break;
    std::string arg;
    int quotes = 0;  // 1 inside a quoted stretch
    while (i < n && !(IsBlank(text[i]) && quotes == 0)) {
      if (text[i] == '\\') {
        size_t run = 0;
        while (i < n && text[i] == '\\') {
          ++run;
          ++i;
        }
        if (i < n && text[i] == '"') {
          arg.append(run / 2, '\\');
          if (run % 2 == 1) {
            arg += '"';
            ++i;
            continue;
          }
          // an even run: the quote that follows is a real one, handled below
        } else {
          arg.append(run, '\\');
          continue;
        }
      }
      if (text[i] == '"') {
        ++quotes;
        ++i;
        // A run of quotes: every third one in a row stands for a literal quote.
        while (i < n && text[i] == '"') {
          if (++quotes == 3) {
            arg += '"';
            quotes = 0;
          }
          ++i;
        }
        if (quotes == 2) quotes = 0;
        continue;
      }
      arg += text[i++];
    }
    args.push_back(std::move(arg));
  }
  return args;
}
