#include "process/proc_name_posix.h"

namespace {
constexpr std::size_t kCommLimit = 15;  // bytes the kernel keeps of a command name

std::string LastComponent(const std::string& path) { return path.substr(path.rfind('/') + 1); }
}  // namespace

std::string ProcExecutableName(const std::string& exeLink, const std::string& cmdline, const std::string& comm) {
  if (!exeLink.empty()) {
    std::string path = exeLink;
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
      path.resize(path.size() - deleted.size());
    }
    return LastComponent(path);
  }
  // A shorter comm is the whole name. A full one may have been cut: the first
  // argument names the program in full when it begins with that comm (a process
  // that rewrote its arguments shows something else, and keeps its comm).
  if (comm.size() < kCommLimit) return comm;
  const std::string first = LastComponent(cmdline.substr(0, cmdline.find('\0')));
  if (first.size() > comm.size() && first.compare(0, comm.size(), comm) == 0) return first;
  return comm;
}
