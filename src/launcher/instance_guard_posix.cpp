#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/sync.h"
#include "launcher/instance_guard.h"

// An exclusive flock on "<dir>/<name>.lock", dir being where the game's socket lives.
// The descriptor is not inherited, so a launched game never holds the lock.
namespace {
std::string LockPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string dir = runtime && *runtime ? runtime : "/tmp";
  return dir + "/" + kInstanceLockName + ".lock";
}
}  // namespace

GuardResult InstanceGuard::Acquire(uint32_t& error) {
  const int fd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = static_cast<uint32_t>(errno);
    return GuardResult::OpenFailed;
  }
  native_ = fd;
  for (int waited = 0;; waited += 50) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // Taken only after another instance held it: that instance ended during the
      // wait. Its lock was let go on close, where the Windows mutex would be left
      // abandoned, which is no ownership either. The error stays the busy one.
      return waited == 0 ? GuardResult::Owned : GuardResult::NotOwned;
    }
    error = static_cast<uint32_t>(errno);
    if (waited >= 5000) return GuardResult::NotOwned;
    SleepMs(50);
  }
}

void InstanceGuard::Close() {
  if (native_ < 0) return;
  close(static_cast<int>(native_));
  native_ = -1;
}
