#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "gamelink/test_process.h"

extern char** environ;

std::string MakeScratchDir() {
  char dir[] = "/tmp/tovel-link-test-XXXXXX";
  return mkdtemp(dir) ? dir : "/tmp";
}

std::string InDir(const std::string& dir, const std::string& name) { return dir + "/" + name; }

void SetEnv(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

std::string BuildTreePath(const std::string& path) { return path; }

bool CopyExecutable(const std::string& from, const std::string& to) {
  FILE* in = fopen(from.c_str(), "rb");
  if (!in) return false;
  FILE* out = fopen(to.c_str(), "wb");
  if (!out) {
    fclose(in);
    return false;
  }
  char buffer[65536];
  size_t n;
  bool ok = true;
  while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) ok = ok && fwrite(buffer, 1, n, out) == n;
  fclose(in);
  ok = fclose(out) == 0 && ok;
  return ok && chmod(to.c_str(), 0755) == 0;
}

bool ChildProcess::Start(const std::string& path) {
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  id_ = static_cast<uint32_t>(pid);
  return true;
}

bool ChildProcess::Running() {
  if (!id_) return false;
  return waitpid(static_cast<pid_t>(id_), nullptr, WNOHANG) == 0;
}

void ChildProcess::Kill() {
  if (!id_) return;
  kill(static_cast<pid_t>(id_), SIGKILL);
  waitpid(static_cast<pid_t>(id_), nullptr, 0);
  id_ = 0;
}
