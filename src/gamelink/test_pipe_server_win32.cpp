#include <windows.h>

#include "common/sync.h"
#include "gamelink/test_pipe_server.h"

namespace {
HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

TestPipeServer::TestPipeServer() = default;

TestPipeServer::~TestPipeServer() { CloseClient(); }

bool TestPipeServer::Create(const std::string& name) {
  name_ = name;
  HANDLE h = CreateNamedPipeA(PipePath().c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1,
                              4096, 4096, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  client_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool TestPipeServer::Accept() {
  return ConnectNamedPipe(H(client_), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
}

bool TestPipeServer::Write(const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(H(client_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

void TestPipeServer::CloseClient() {
  if (client_ != -1) CloseHandle(H(client_));
  client_ = -1;
}
