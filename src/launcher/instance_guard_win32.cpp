#include <windows.h>

#include "launcher/instance_guard.h"

// A named mutex in the local namespace, not owned at creation. An abandoned mutex
// (its holder ended without letting go) does not count as owned.
GuardResult InstanceGuard::Acquire(uint32_t& error) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kInstanceLockName);
  if (!mutex) {
    error = GetLastError();
    return GuardResult::OpenFailed;
  }
  native_ = reinterpret_cast<intptr_t>(mutex);
  if (WaitForSingleObject(mutex, 5000) != WAIT_OBJECT_0) {
    error = GetLastError();
    return GuardResult::NotOwned;
  }
  return GuardResult::Owned;
}

void InstanceGuard::Close() {
  if (native_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = -1;
}
