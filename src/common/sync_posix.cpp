#include "common/sync.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

void CriticalSection::Initialize() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  // A critical section may be entered again by the thread that holds it.
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  auto* m = new pthread_mutex_t;
  pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
  impl_ = m;
}

void CriticalSection::Delete() {
  auto* m = static_cast<pthread_mutex_t*>(impl_);
  if (!m) return;
  pthread_mutex_destroy(m);
  delete m;
  impl_ = nullptr;
}

void CriticalSection::Enter() { pthread_mutex_lock(static_cast<pthread_mutex_t*>(impl_)); }
void CriticalSection::Leave() { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(impl_)); }

// An eventfd: Set adds to its counter, a wait that sees it readable takes the whole
// counter, so several Sets before a wait count as one, as with an auto-reset event.
bool AutoResetEvent::Create() {
  int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) return false;
  native_ = fd;
  return true;
}

void AutoResetEvent::Close() {
  if (native_ >= 0) close(static_cast<int>(native_));
  native_ = -1;
}

void AutoResetEvent::Set() {
  uint64_t one = 1;
  ssize_t r = write(static_cast<int>(native_), &one, sizeof one);
  (void)r;
}

WaitResult AutoResetEvent::Wait(uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs != kWaitForever) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left > 0 ? static_cast<int>(left) : 0;
    }
    pollfd p{static_cast<int>(native_), POLLIN, 0};
    int r = poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return WaitResult::Failed;
    if (r == 0) return WaitResult::TimedOut;
    uint64_t count;
    if (read(static_cast<int>(native_), &count, sizeof count) == sizeof count) return WaitResult::Signaled;
    if (errno != EAGAIN && errno != EINTR) return WaitResult::Failed;
    // another waiter took it first: wait on
  }
}

namespace {
struct Start {
  ThreadProc proc;
  void* arg;
};

void* Trampoline(void* p) {
  Start s = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  s.proc(s.arg);
  return nullptr;
}
}  // namespace

bool Thread::Start(ThreadProc proc, void* arg) {
  auto* s = new ::Start{proc, arg};
  pthread_t t;
  if (pthread_create(&t, nullptr, Trampoline, s) != 0) {
    delete s;
    return false;
  }
  native_ = static_cast<uintptr_t>(t);
  return true;
}

void Thread::Join() {
  if (!native_) return;
  pthread_join(static_cast<pthread_t>(native_), nullptr);
  native_ = 0;
}

void Thread::Detach() {
  if (!native_) return;
  pthread_detach(static_cast<pthread_t>(native_));
  native_ = 0;
}

void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }
