// The threading services the helper uses (threads, a critical section, auto-reset
// events, sleeping), with one interface on both builds.
#pragma once
#include <cstdint>

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

enum class WaitResult { Signaled, TimedOut, Failed };

// Initialised and deleted explicitly, at points the owner chooses.
class CriticalSection {
 public:
  void Initialize();
  void Delete();
  void Enter();
  void Leave();

 private:
  void* impl_ = nullptr;
};

class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
  ~ScopedLock() { cs_.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& cs_;
};

// Unnamed, auto-reset: a Set wakes one wait and is consumed by it; a Set that nobody
// waits for stays pending until the next wait.
class AutoResetEvent {
 public:
  bool Create();
  void Close();
  void Set();
  WaitResult Wait(uint32_t timeoutMs);
  // The HANDLE on Windows, the readable descriptor on Linux; for waits on several objects.
  intptr_t Native() const { return native_; }

 private:
  intptr_t native_ = -1;
};

using ThreadProc = uint32_t (*)(void* arg);

class Thread {
 public:
  bool Start(ThreadProc proc, void* arg);
  void Join();  // waits without a time-out; nothing to do when never started
  void Detach();  // lets the thread end on its own; nothing to do when never started
  bool Started() const { return native_ != 0; }

 private:
  uintptr_t native_ = 0;
};

void SleepMs(uint32_t ms);
uint32_t CurrentProcessId();
