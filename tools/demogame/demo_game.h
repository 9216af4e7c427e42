// The demo game: a stand-in for the real game client, for tests and for people who
// write the web page. It runs under the game's executable name, records what it was
// started with, and keeps running until it is killed or its time is up.
//
// Environment:
//   TOVEL3_DEMO_RECORD    file to which it appends one JSON line per happening
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

// Appends one JSON object line to the record file, if there is one.
void Record(const std::string& jsonObject);
std::string JsonString(const std::string& utf8);
