#include "demo_game.h"

#include <cstdio>
#include <cstdlib>

#include "common/sync.h"

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void Record(const std::string& jsonObject) {
  const char* path = getenv("TOVEL3_DEMO_RECORD");
  if (!path || !*path) return;
  FILE* f = fopen(path, "ab");
  if (!f) return;
  std::string line = jsonObject + "\n";
  fwrite(line.data(), 1, line.size(), f);
  fclose(f);
}

int RunDemoGame(const DemoProcess& self) {
  std::string args = "[";
  for (size_t i = 0; i < self.args.size(); ++i) args += (i ? "," : "") + JsonString(self.args[i]);
  args += "]";
  Record("{\"event\":\"start\",\"pid\":" + std::to_string(self.pid) + ",\"args\":" + args + "}");

  const char* lifetime = getenv("TOVEL3_DEMO_LIFETIME_MS");
  long left = lifetime && *lifetime ? atol(lifetime) : -1;
  while (left != 0) {
    SleepMs(100);
    if (left > 0) left = left > 100 ? left - 100 : 0;
  }
  Record("{\"event\":\"exit\",\"pid\":" + std::to_string(self.pid) + "}");
  return 0;
}
