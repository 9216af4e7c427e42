#include <windows.h>
#include <tlhelp32.h>

#include "common/log.h"
#include "process/process_name.h"
#include "process/process_tools.h"

bool IsProcessesRunning(const WideString& executableName, uint32_t& processId) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    Log("%s: Unable to create toolhelp snapshot\n", "IsProcessesRunning");
    return false;
  }
  PROCESSENTRY32W entry;
  ZeroMemory(&entry, sizeof entry);
  entry.dwSize = sizeof entry;
  if (!Process32FirstW(snapshot, &entry)) {
    Log("%s: Process32First failed\n", "IsProcessesRunning");
    CloseHandle(snapshot);
    return false;
  }
  for (;;) {
    if (ProcessNameMatches(reinterpret_cast<const char16_t*>(entry.szExeFile), executableName)) {
      Log("%s: Found match, game is running\n", "IsProcessesRunning");
      CloseHandle(snapshot);
      processId = entry.th32ProcessID;
      return true;
    }
    ZeroMemory(&entry, sizeof entry);
    entry.dwSize = sizeof entry;
    if (!Process32NextW(snapshot, &entry)) {
      // also the normal end of the list
      Log("%s: Process32Next failed\n", "IsProcessesRunning");
      CloseHandle(snapshot);
      Log("%s: Found no match, game is not running\n", "IsProcessesRunning");
      return false;
    }
  }
}

bool KillChildProcess(uint32_t pid) {
  if (pid == 0) {
    Log("%s: Unable to kill child, PID is 0\n", "KillChildProcess");
    return false;
  }
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!process) {
    Log("%s: Unable to open child process, OpenProcess failed with %08x\n", "KillChildProcess",
        static_cast<unsigned>(GetLastError()));
    return false;
  }
  bool killed = true;
  if (!TerminateProcess(process, 0)) {
    Log("%s: Unable to terminate child process, TerminateProcess failed with %08x\n", "KillChildProcess",
        static_cast<unsigned>(GetLastError()));
    killed = false;
  }
  CloseHandle(process);
  return killed;
}
