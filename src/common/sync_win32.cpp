#include "common/sync.h"

#include <windows.h>

void CriticalSection::Initialize() {
  auto* cs = new CRITICAL_SECTION;
  InitializeCriticalSection(cs);
  impl_ = cs;
}

void CriticalSection::Delete() {
  auto* cs = static_cast<CRITICAL_SECTION*>(impl_);
  if (!cs) return;
  DeleteCriticalSection(cs);
  delete cs;
  impl_ = nullptr;
}

void CriticalSection::Enter() { EnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }
void CriticalSection::Leave() { LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)); }

bool AutoResetEvent::Create() {
  HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!h) return false;
  native_ = reinterpret_cast<intptr_t>(h);
  return true;
}

void AutoResetEvent::Close() {
  if (native_ != -1) CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = -1;
}

void AutoResetEvent::Set() { SetEvent(reinterpret_cast<HANDLE>(native_)); }

WaitResult AutoResetEvent::Wait(uint32_t timeoutMs) {
  DWORD r = WaitForSingleObject(reinterpret_cast<HANDLE>(native_), timeoutMs == kWaitForever ? INFINITE : timeoutMs);
  if (r == WAIT_OBJECT_0) return WaitResult::Signaled;
  if (r == WAIT_TIMEOUT) return WaitResult::TimedOut;
  return WaitResult::Failed;
}

namespace {
struct Start {
  ThreadProc proc;
  void* arg;
};

DWORD WINAPI Trampoline(LPVOID p) {
  Start s = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  return s.proc(s.arg);
}
}  // namespace

bool Thread::Start(ThreadProc proc, void* arg) {
  auto* s = new ::Start{proc, arg};
  HANDLE h = CreateThread(nullptr, 0, Trampoline, s, 0, nullptr);
  if (!h) {
    delete s;
    return false;
  }
  native_ = reinterpret_cast<uintptr_t>(h);
  return true;
}

void Thread::Join() {
  if (!native_) return;
  WaitForSingleObject(reinterpret_cast<HANDLE>(native_), INFINITE);
  CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = 0;
}

void Thread::Detach() {
  if (!native_) return;
  CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = 0;
}

void SleepMs(uint32_t ms) { Sleep(ms); }

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }
