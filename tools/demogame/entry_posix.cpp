#include <unistd.h>

#include "demo_game.h"

int main(int argc, char** argv) {
  DemoProcess self;
  self.pid = static_cast<uint32_t>(getpid());
  for (int i = 1; i < argc; ++i) self.args.push_back(argv[i]);
  return RunDemoGame(self);
}
