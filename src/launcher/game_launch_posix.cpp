#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/game_launch.h"
#include "launcher/windows_arguments.h"

// The parameter text is split as the game's start-up code would split it on Windows.
// The game is started by a short-lived intermediate process, so it is never a child
// of the helper (no zombie, and it keeps running after the helper ends); an exec
// failure in the game's process comes back through a pipe that closes on exec.
namespace {
std::vector<std::string> Candidates(const std::string& file) {
  if (file.find('/') != std::string::npos) return {file};
  std::vector<std::string> paths{"./" + file};
  const char* searchPath = std::getenv("PATH");
  std::string list = searchPath ? searchPath : "";
  size_t start = 0;
  for (;;) {
    const size_t colon = list.find(':', start);
    std::string dir = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (dir.empty()) dir = ".";
    paths.push_back(dir + "/" + file);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return paths;
}

void WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    size -= static_cast<size_t>(n);
  }
}

// Runs in the game's process, between fork and exec: only async-signal-safe calls.
[[noreturn]] void BecomeGame(const std::vector<std::string>& candidates, char* const* argv, int reportFd) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &dfl, nullptr);
  // Like a game started by the shell on Windows, it has no standard streams of the helper's.
  const int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (null > 2) close(null);
  }
  int firstError = ENOENT;
  for (const std::string& path : candidates) {
    execv(path.c_str(), argv);
    // As the shell's search does: a file that exists but cannot be run is reported
    // unless a later directory has a runnable one.
    if (errno != ENOENT && errno != ENOTDIR && firstError == ENOENT) firstError = errno;
  }
  WriteAll(reportFd, &firstError, sizeof firstError);
  _exit(127);
}
}  // namespace

bool LaunchGame(const WideString& executable, const WideString& parameters, uint32_t& error) {
  const std::string file = WideToUtf8(executable);
  const std::vector<std::string> candidates = Candidates(file);
  std::vector<std::string> args = SplitWindowsArguments(WideToUtf8(parameters));
  args.insert(args.begin(), file);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    error = static_cast<uint32_t>(errno);
    return false;
  }
  const pid_t intermediate = fork();
  if (intermediate < 0) {
    error = static_cast<uint32_t>(errno);
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (intermediate == 0) {
    close(report[0]);
    setsid();
    const pid_t game = fork();
    if (game < 0) {
      const int e = errno;
      WriteAll(report[1], &e, sizeof e);
      _exit(127);
    }
    if (game == 0) BecomeGame(candidates, argv.data(), report[1]);
    _exit(0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
  }
  int childError = 0;
  ssize_t n;
  do {
    n = read(report[0], &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof childError)) {
    error = static_cast<uint32_t>(childError);
    return false;
  }
  return true;
}
