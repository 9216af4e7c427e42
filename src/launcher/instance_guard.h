// The single active instance per machine: a system-wide named lock that the active
// helper takes at start and holds until its shutdown. A holder that ends lets go of it.
#pragma once
#include <cstdint>

extern const char kInstanceLockName[];  // "{741BDB7C-B3FC-4B7D-AB3D-3EF5CF1032CC}"

enum class GuardResult { Owned, OpenFailed, NotOwned };

class InstanceGuard {
 public:
  // Opens (creating it if needed) and waits up to 5000 ms to own the lock; on a
  // failure error holds the system's error code for the log line. A lock that was
  // held when the wait began and let go during it is not owned: its holder ended.
  GuardResult Acquire(uint32_t& error);
  // Gives up the handle; nothing happens when none was had.
  void Close();

 private:
  intptr_t native_ = -1;
};
