#include <dirent.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "common/log.h"
#include "process/proc_name_posix.h"
#include "process/process_name.h"
#include "process/process_tools.h"

// The process list is /proc; a pidfd stands for an opened process.

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

namespace {
std::vector<uint32_t> ListProcessIds(bool& listed) {
  std::vector<uint32_t> ids;
  DIR* dir = opendir("/proc");
  listed = dir != nullptr;
  if (!dir) return ids;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    ids.push_back(static_cast<uint32_t>(std::stoul(name)));
  }
  closedir(dir);
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::string();
  return line;
}

// Exited but not yet reaped: the state letter after the command name is 'Z'.
bool IsZombie(const std::string& procDir) {
  const std::string stat = ReadFirstLine(procDir + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

// Empty when the process is gone.
std::string ExecutableName(const std::string& procDir) {
  char target[4096];
  const ssize_t n = readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
  const std::string exeLink = n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
  if (!exeLink.empty()) return ProcExecutableName(exeLink, std::string(), std::string());
  std::ifstream in(procDir + "/cmdline", std::ios::binary);
  std::string cmdline;
  std::getline(in, cmdline, '\0');
  return ProcExecutableName(exeLink, cmdline, ReadFirstLine(procDir + "/comm"));
}

int PidfdOpen(uint32_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)); }
}  // namespace

bool IsProcessesRunning(const WideString& executableName, uint32_t& processId) {
  bool listed = false;
  const std::vector<uint32_t> ids = ListProcessIds(listed);
  if (!listed) {
    Log("%s: Unable to create toolhelp snapshot\n", "IsProcessesRunning");
    return false;
  }
  if (ids.empty()) {
    Log("%s: Process32First failed\n", "IsProcessesRunning");
    return false;
  }
  for (uint32_t id : ids) {
    const std::string procDir = "/proc/" + std::to_string(id);
    if (IsZombie(procDir)) continue;
    const std::string name = ExecutableName(procDir);
    if (name.empty()) continue;
    if (ProcessNameMatches(Utf8ToWide(name), executableName)) {
      Log("%s: Found match, game is running\n", "IsProcessesRunning");
      processId = id;
      return true;
    }
  }
  Log("%s: Process32Next failed\n", "IsProcessesRunning");
  Log("%s: Found no match, game is not running\n", "IsProcessesRunning");
  return false;
}

bool KillChildProcess(uint32_t pid) {
  if (pid == 0) {
    Log("%s: Unable to kill child, PID is 0\n", "KillChildProcess");
    return false;
  }
  const int pidfd = PidfdOpen(pid);
  if (pidfd < 0) {
    Log("%s: Unable to open child process, OpenProcess failed with %08x\n", "KillChildProcess", errno);
    return false;
  }
  bool killed = true;
  if (syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) != 0) {
    Log("%s: Unable to terminate child process, TerminateProcess failed with %08x\n", "KillChildProcess", errno);
    killed = false;
  }
  close(pidfd);
  return killed;
}
