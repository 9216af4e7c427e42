#include <windows.h>

#include "gamelink/game_pipe.h"

bool OpenGamePipe(GamePipe& pipe, const std::string& pipePath, boost::system::error_code& error) {
  // No pipe-state call follows: the pipe is read in its default byte mode.
  HANDLE handle = CreateFileA(pipePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED | FILE_FLAG_NO_BUFFERING, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error.assign(static_cast<int>(GetLastError()), boost::system::system_category());
    return false;
  }
  pipe.assign(handle, error);
  if (!error) return true;
  CloseHandle(handle);
  return false;
}
