#include <windows.h>

#include "common/text.h"
#include "game_pipe.h"

namespace {
HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

GamePipe::GamePipe(const std::string& name) : name_(name) {}

GamePipe::~GamePipe() {
  if (client_ != -1) CloseHandle(H(client_));
}

std::string GamePipe::Path() const { return "\\\\.\\pipe\\" + name_; }

bool GamePipe::Created() const { return client_ != -1; }
bool GamePipe::HasClient() const { return connected_; }

bool GamePipe::Create(uint32_t* error) {
  if (client_ != -1) return true;
  const WideString path = Utf8ToWide(Path());
  HANDLE h = CreateNamedPipeW(reinterpret_cast<const wchar_t*>(path.c_str()), PIPE_ACCESS_DUPLEX,
                              PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  client_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool GamePipe::WaitClient(uint32_t* error) {
  if (connected_) return true;
  if (!Create(error)) return false;
  // A helper that opened the pipe before this call is already connected.
  if (!ConnectNamedPipe(H(client_), nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
    *error = GetLastError();
    return false;
  }
  connected_ = true;
  return true;
}

bool GamePipe::Write(const std::string& bytes, uint32_t* error) {
  DWORD written = 0;
  if (WriteFile(H(client_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size())
    return true;
  *error = GetLastError();
  return false;
}

void GamePipe::Close() {
  if (client_ == -1) return;
  // Returns once the helper has read everything (or is gone).
  if (connected_) FlushFileBuffers(H(client_));
  CloseHandle(H(client_));
  client_ = -1;
  connected_ = false;
}
