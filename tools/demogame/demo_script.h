// The demo game's script: what it writes on its pipe, one step per line.
//
//   # comment                  blank lines and lines starting with # are skipped
//   wait-client                create the pipe if needed and wait for the helper
//   frame NAME [PAYLOAD]       one frame; PAYLOAD is the rest of the line after the
//                              single space that follows NAME, kept exactly
//   flood N NAME [PAYLOAD]     N frames as fast as the pipe takes them, with the
//                              payloads "1 PAYLOAD" .. "N PAYLOAD" ("1" .. "N" without)
//   raw HEX...                 bytes as they are, e.g. "raw 4B 45 07 00" (blanks optional)
//   sleep MS                   wait
//   close                      close the pipe (the helper sees the game go away);
//                              a later frame creates it anew and waits for a helper
//   exit                       end the demo game
//   loop                       start again from the first line
//
// In NAME and PAYLOAD, \xHH stands for the byte HH and \\ for a backslash; the NAME
// "" is the empty name. Frames, raw bytes and flood wait for a helper first when none
// is connected. A line that cannot be read is reported in the record and skipped.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ScriptStep {
  enum class Kind { WaitClient, Frame, Flood, Raw, Sleep, Close, Exit, Loop };
  Kind kind = Kind::Sleep;
  std::string name;     // Frame, Flood
  std::string payload;  // Frame, Flood
  std::string bytes;    // Raw
  uint32_t number = 0;  // Sleep: milliseconds; Flood: frame count
  int line = 0;         // in the script text, from 1
};

struct ScriptError {
  int line;
  std::string text;
};

struct DemoScript {
  std::vector<ScriptStep> steps;
  std::vector<ScriptError> errors;
};

DemoScript ParseDemoScript(const std::string& text);

// A made-up match that loops slowly: a player joins a lobby, a match starts, the
// score changes, the match ends.
extern const char* const kBuiltInDemoScript;

// The bytes of one frame as the game writes it.
std::string EncodeFrame(const std::string& name, const std::string& payload);
