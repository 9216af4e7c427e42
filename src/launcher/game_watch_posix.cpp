#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "launcher/game_watch.h"

// A pidfd turns readable when the process ends; the event is an eventfd.

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

GameWatch::~GameWatch() {
  if (native_ >= 0) close(static_cast<int>(native_));
}

bool GameWatch::Open(uint32_t processId, uint32_t& error) {
  const long fd = syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0);
  if (fd < 0) {
    error = static_cast<uint32_t>(errno);
    return false;
  }
  native_ = fd;
  return true;
}

bool GameWatch::EndsWithin(uint32_t timeoutMs) {
  pollfd fd{static_cast<int>(native_), POLLIN, 0};
  int r;
  while ((r = poll(&fd, 1, static_cast<int>(timeoutMs))) < 0 && errno == EINTR) {
  }
  return r > 0;
}

WatchOutcome GameWatch::Wait(AutoResetEvent& shutdownEvent, int& result, uint32_t& error) {
  const int eventFd = static_cast<int>(shutdownEvent.Native());
  for (;;) {
    pollfd fds[2] = {{static_cast<int>(native_), POLLIN, 0}, {eventFd, POLLIN, 0}};
    const int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      result = r;
      error = static_cast<uint32_t>(errno);
      return WatchOutcome::Failed;
    }
    if (fds[0].revents != 0) return WatchOutcome::GameEnded;
    if (fds[1].revents & POLLIN) {
      uint64_t count;
      if (read(eventFd, &count, sizeof count) == sizeof count) return WatchOutcome::ShutdownSignaled;
      if (errno == EAGAIN || errno == EINTR) continue;  // taken by another wait meanwhile
    }
    result = r;
    error = static_cast<uint32_t>(errno);
    return WatchOutcome::Failed;
  }
}
