#include "demo_script.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

const char* const kBuiltInDemoScript = R"(# The built-in demo: one made-up match after another.
wait-client
frame LobbyJoined demo_player lobby_3
sleep 1500
frame MatchStarted arena_7 4 players
sleep 2000
frame ScoreChanged 1 0
sleep 2000
frame ScoreChanged 1 1
sleep 2000
frame ScoreChanged 2 1
sleep 2000
frame MatchEnded win 2 1
sleep 3000
loop
)";

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// \xHH and \\; anything else after a backslash is an error.
bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '\\') {
      *out += '\\';
      ++i;
    } else if (i + 3 < text.size() && text[i + 1] == 'x' && HexValue(text[i + 2]) >= 0 && HexValue(text[i + 3]) >= 0) {
      *out += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
      i += 3;
    } else {
      return false;
    }
  }
  return true;
}

bool ParseNumber(const std::string& text, uint32_t* out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (!isdigit(static_cast<unsigned char>(c))) return false;
  *out = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10));
  return true;
}

// Splits "WORD rest" at the first space: the rest keeps every byte after that space.
void Cut(const std::string& text, std::string* word, std::string* rest) {
  const size_t space = text.find(' ');
  *word = text.substr(0, space);
  *rest = space == std::string::npos ? "" : text.substr(space + 1);
}

// NAME [PAYLOAD]
bool ParseFrame(const std::string& text, ScriptStep* step) {
  std::string name, payload;
  Cut(text, &name, &payload);
  if (name.empty()) return false;
  if (name == "\"\"") name.clear();
  return Unescape(name, &step->name) && step->name.size() <= 255 && Unescape(payload, &step->payload) &&
         step->payload.size() <= 65528 - step->name.size();
}

bool ParseLine(const std::string& line, ScriptStep* step) {
  std::string keyword, rest;
  Cut(line, &keyword, &rest);
  using Kind = ScriptStep::Kind;
  if (keyword == "wait-client" && rest.empty()) {
    step->kind = Kind::WaitClient;
  } else if (keyword == "close" && rest.empty()) {
    step->kind = Kind::Close;
  } else if (keyword == "exit" && rest.empty()) {
    step->kind = Kind::Exit;
  } else if (keyword == "loop" && rest.empty()) {
    step->kind = Kind::Loop;
  } else if (keyword == "sleep") {
    step->kind = Kind::Sleep;
    return ParseNumber(rest, &step->number);
  } else if (keyword == "frame") {
    step->kind = Kind::Frame;
    return ParseFrame(rest, step);
  } else if (keyword == "flood") {
    step->kind = Kind::Flood;
    std::string count, frame;
    Cut(rest, &count, &frame);
    return ParseNumber(count, &step->number) && ParseFrame(frame, step);
  } else if (keyword == "raw") {
    step->kind = Kind::Raw;
    std::string digits;
    for (char c : rest)
      if (c != ' ' && c != '\t') digits += c;
    if (digits.empty() || digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
      int hi = HexValue(digits[i]), lo = HexValue(digits[i + 1]);
      if (hi < 0 || lo < 0) return false;
      step->bytes += static_cast<char>(hi * 16 + lo);
    }
  } else {
    return false;
  }
  return true;
}

}  // namespace

DemoScript ParseDemoScript(const std::string& text) {
  DemoScript script;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    line = line.substr(start);
    ScriptStep step;
    step.line = number;
    if (ParseLine(line, &step)) {
      script.steps.push_back(step);
    } else {
      script.errors.push_back({number, line});
    }
  }
  return script;
}

std::string EncodeFrame(const std::string& name, const std::string& payload) {
  const size_t total = 7 + name.size() + payload.size();
  std::string frame = "KE";
  frame += static_cast<char>(total & 0xFF);
  frame += static_cast<char>(total >> 8 & 0xFF);
  frame += static_cast<char>(name.size());
  frame += name;
  frame += static_cast<char>(payload.size() & 0xFF);
  frame += static_cast<char>(payload.size() >> 8 & 0xFF);
  return frame + payload;
}
