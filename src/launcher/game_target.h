// The four target strings, fixed when the program is built.
#pragma once
#include <string>

struct GameTarget {
  std::string pipeName;        // suffix of the game's named pipe
  std::string executableName;  // file name of the game executable
  std::string gameId;          // handed to the game link and the handshake
  std::string gameName;        // short name, only printed and checked
};

// This build's values (a program may be built with any of them empty, and then refuses to run).
GameTarget BuildGameTarget();
