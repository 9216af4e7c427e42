// The demo game: a stand-in for the real game client, for tests and for people who
// write the web page. It runs under the game's executable name, records what it was
// started with, serves the game's pipe and writes frames on it from a script
// (demo_script.h has the format; README.md shows how to use it), and keeps running
// until it is killed, its time is up or the script says exit.
//
// Environment:
//   TOVEL3_DEMO_SCRIPT       script file; without it, a built-in made-up match that loops
//   TOVEL3_DEMO_PIPE         the pipe's name (default marble_gantry)
//   TOVEL3_DEMO_RECORD       file to which it appends one JSON line per happening:
//                            start, listening, client, sent, raw, flood, client-gone,
//                            closed, script-error, script-end, exit
//   TOVEL3_DEMO_LIFETIME_MS  end by itself after this many milliseconds
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct DemoProcess {
  uint32_t pid = 0;  // the id the system's process list shows
  std::vector<std::string> args;  // UTF-8, without the program name
};

int RunDemoGame(const DemoProcess& self);

// Appends one JSON object line to the record file, if there is one. Any thread.
void Record(const std::string& jsonObject);
// A JSON string of any bytes: text that is not UTF-8 has its high bytes as \u00XX.
std::string JsonString(const std::string& bytes);
