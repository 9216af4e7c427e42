#include <windows.h>
#include <shellapi.h>

#include "launcher/game_launch.h"

bool LaunchGame(const WideString& executable, const WideString& parameters, uint32_t& error) {
  SHELLEXECUTEINFOW request;
  ZeroMemory(&request, sizeof request);
  request.cbSize = sizeof request;
  request.fMask = 0;  // no process handle: the game's id comes through the game link
  request.lpVerb = L"open";
  request.lpFile = reinterpret_cast<const wchar_t*>(executable.c_str());
  request.lpParameters = reinterpret_cast<const wchar_t*>(parameters.c_str());
  request.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&request)) return true;
  error = GetLastError();
  return false;
}
