#include <windows.h>

#include <string>

#include "common/text.h"
#include "gamelink/test_process.h"

namespace {
std::wstring W(const std::string& utf8) {
  WideString w = Utf8ToWide(utf8);
  return std::wstring(w.begin(), w.end());
}
}  // namespace

std::string MakeScratchDir() {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  for (unsigned n = GetCurrentProcessId() * 1000u;; ++n) {
    std::string dir = std::string(base) + "tovel-link-test-" + std::to_string(n);
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return base;
  }
}

std::string InDir(const std::string& dir, const std::string& name) { return dir + "\\" + name; }

void SetEnv(const std::string& name, const std::string& value) { SetEnvironmentVariableW(W(name).c_str(), W(value).c_str()); }

// The build tree's paths are Linux paths; Wine shows the Linux root as drive Z:.
std::string BuildTreePath(const std::string& path) {
  std::string out = "Z:" + path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

bool CopyExecutable(const std::string& from, const std::string& to) {
  return CopyFileW(W(from).c_str(), W(to).c_str(), FALSE) != 0;
}

bool ChildProcess::Start(const std::string& path) {
  std::wstring commandLine = L"\"" + W(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return false;
  CloseHandle(info.hThread);
  handle_ = reinterpret_cast<intptr_t>(info.hProcess);
  id_ = info.dwProcessId;
  return true;
}

bool ChildProcess::Running() {
  return handle_ && WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 0) == WAIT_TIMEOUT;
}

void ChildProcess::Kill() {
  if (!handle_) return;
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  TerminateProcess(h, 1);
  WaitForSingleObject(h, 10000);
  CloseHandle(h);
  handle_ = 0;
  id_ = 0;
}
