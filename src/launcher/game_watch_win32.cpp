#include <windows.h>

#include "launcher/game_watch.h"

GameWatch::~GameWatch() {
  if (native_ != -1) CloseHandle(reinterpret_cast<HANDLE>(native_));
}

bool GameWatch::Open(uint32_t processId, uint32_t& error) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (!process) {
    error = GetLastError();
    return false;
  }
  native_ = reinterpret_cast<intptr_t>(process);
  return true;
}

bool GameWatch::EndsWithin(uint32_t timeoutMs) {
  return WaitForSingleObject(reinterpret_cast<HANDLE>(native_), timeoutMs) == WAIT_OBJECT_0;
}

WatchOutcome GameWatch::Wait(AutoResetEvent& shutdownEvent, int& result, uint32_t& error) {
  HANDLE handles[2] = {reinterpret_cast<HANDLE>(native_), reinterpret_cast<HANDLE>(shutdownEvent.Native())};
  const DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (r == WAIT_OBJECT_0) return WatchOutcome::GameEnded;
  if (r == WAIT_OBJECT_0 + 1) return WatchOutcome::ShutdownSignaled;
  result = static_cast<int>(r);
  error = GetLastError();
  return WatchOutcome::Failed;
}
