#include "demo_game.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/sync.h"
#include "common/utf_codec.h"
#include "demo_script.h"
#include "game_pipe.h"

namespace {

CriticalSection recordLock;
AutoResetEvent exitRequested;

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value && *value ? value : fallback;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text->append(buffer, n);
  fclose(f);
  return true;
}

std::string Number(uint64_t n) { return std::to_string(n); }

// "{now}" in a payload becomes the wall clock at the moment of sending, in nanoseconds
// since 1970, so that a page can tell how long the frame took to reach it.
std::string Stamped(const std::string& payload) {
  static const std::string kNow = "{now}";
  size_t at = payload.find(kNow);
  if (at == std::string::npos) return payload;
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch()).count();
  std::string text = payload;
  for (; at != std::string::npos; at = text.find(kNow, at)) {
    text.replace(at, kNow.size(), std::to_string(now));
  }
  return text;
}

// Plays the script on its own thread, so that the lifetime can end the game while the
// script waits for a helper or for the pipe.
class ScriptPlayer {
 public:
  ScriptPlayer(DemoScript script, const std::string& pipeName) : script_(std::move(script)), pipe_(pipeName) {}

  static uint32_t Run(void* self) {
    auto* player = static_cast<ScriptPlayer*>(self);
    player->Play();
    player->done_ = true;
    return 0;
  }

  bool Done() const { return done_; }

 private:
  void Play() {
    for (const ScriptError& e : script_.errors)
      Record("{\"event\":\"script-error\",\"line\":" + Number(e.line) + ",\"text\":" + JsonString(e.text) + "}");
    size_t at = 0;
    while (at < script_.steps.size()) {
      const ScriptStep& step = script_.steps[at++];
      switch (step.kind) {
        case ScriptStep::Kind::WaitClient:
          EnsureClient();
          break;
        case ScriptStep::Kind::Frame: {
          const std::string payload = Stamped(step.payload);
          if (Send(EncodeFrame(step.name, payload)))
            Record("{\"event\":\"sent\",\"name\":" + JsonString(step.name) + ",\"payload\":" + JsonString(payload) + "}");
          break;
        }
        case ScriptStep::Kind::Raw:
          if (Send(step.bytes)) Record("{\"event\":\"raw\",\"bytes\":" + Number(step.bytes.size()) + "}");
          break;
        case ScriptStep::Kind::Flood:
          Flood(step);
          break;
        case ScriptStep::Kind::Sleep:
          SleepMs(step.number);
          break;
        case ScriptStep::Kind::Close:
          pipe_.Close();
          Record("{\"event\":\"closed\"}");
          break;
        case ScriptStep::Kind::Exit:
          exitRequested.Set();
          return;
        case ScriptStep::Kind::Loop:
          at = 0;
          SleepMs(1);  // a script of nothing but loop must not spin
          break;
      }
    }
    Record("{\"event\":\"script-end\"}");
  }

  // Creates the pipe (retrying while another game holds the name) and waits for a helper.
  void EnsureClient() {
    if (pipe_.HasClient()) return;
    uint32_t error = 0;
    bool reported = false;
    while (!pipe_.Create(&error)) {
      if (!reported) Record("{\"event\":\"pipe-error\",\"error\":" + Number(error) + "}");
      reported = true;
      SleepMs(100);
    }
    Record("{\"event\":\"listening\",\"pipe\":" + JsonString(pipe_.Path()) + "}");
    while (!pipe_.WaitClient(&error)) {
      Record("{\"event\":\"pipe-error\",\"error\":" + Number(error) + "}");
      pipe_.Close();
      SleepMs(100);
      while (!pipe_.Create(&error)) SleepMs(100);
    }
    Record("{\"event\":\"client\"}");
  }

  // A helper that went away loses the bytes; the next step waits for a new one.
  bool Send(const std::string& bytes) {
    EnsureClient();
    uint32_t error = 0;
    if (pipe_.Write(bytes, &error)) return true;
    Record("{\"event\":\"client-gone\",\"error\":" + Number(error) + "}");
    pipe_.Close();
    return false;
  }

  void Flood(const ScriptStep& step) {
    EnsureClient();
    uint32_t sent = 0;
    uint32_t error = 0;
    for (uint32_t i = 1; i <= step.number; ++i) {
      std::string payload = Number(i);
      if (!step.payload.empty()) payload.append(" ").append(Stamped(step.payload));
      if (!pipe_.Write(EncodeFrame(step.name, payload), &error)) break;
      ++sent;
    }
    Record("{\"event\":\"flood\",\"name\":" + JsonString(step.name) + ",\"count\":" + Number(sent) + "}");
    if (sent < step.number) {
      Record("{\"event\":\"client-gone\",\"error\":" + Number(error) + "}");
      pipe_.Close();
    }
  }

  DemoScript script_;
  std::atomic<bool> done_{false};
  GamePipe pipe_;
};

}  // namespace

std::string JsonString(const std::string& bytes) {
  const bool utf8 = EncodeUtf8(DecodeUtf8(bytes)) == bytes;
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || (c >= 0x80 && !utf8)) {
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
  ScopedLock hold(recordLock);
  FILE* f = fopen(path, "ab");
  if (!f) return;
  std::string line = jsonObject + "\n";
  fwrite(line.data(), 1, line.size(), f);
  fclose(f);
}

int RunDemoGame(const DemoProcess& self) {
  recordLock.Initialize();
  exitRequested.Create();

  std::string args = "[";
  for (size_t i = 0; i < self.args.size(); ++i) args.append(i ? "," : "").append(JsonString(self.args[i]));
  args += "]";
  Record("{\"event\":\"start\",\"pid\":" + std::to_string(self.pid) + ",\"args\":" + args + "}");

  std::string text = kBuiltInDemoScript;
  const std::string scriptPath = EnvOr("TOVEL3_DEMO_SCRIPT", "");
  if (!scriptPath.empty()) {
    text.clear();
    if (!ReadWholeFile(scriptPath, &text))
      Record("{\"event\":\"script-error\",\"line\":0,\"text\":" + JsonString("cannot read " + scriptPath) + "}");
  }
  // Lives as long as the process: the player may still be blocked when the game ends.
  // Held by a static so that it stays reachable (a leak checker would report it).
  static ScriptPlayer* player = nullptr;
  player = new ScriptPlayer(ParseDemoScript(text), EnvOr("TOVEL3_DEMO_PIPE", "marble_gantry"));
  Thread playing;
  playing.Start(ScriptPlayer::Run, player);

  const char* lifetime = getenv("TOVEL3_DEMO_LIFETIME_MS");
  const long left = lifetime && *lifetime ? atol(lifetime) : -1;
  exitRequested.Wait(left >= 0 ? static_cast<uint32_t>(left) : kWaitForever);
  Record("{\"event\":\"exit\",\"pid\":" + std::to_string(self.pid) + "}");
  // A player that is done is joined; one still blocked on the pipe ends with the
  // process. It may finish just after the look, so it is let go rather than left
  // unjoined.
  if (player->Done())
    playing.Join();
  else
    playing.Detach();
  return 0;
}
