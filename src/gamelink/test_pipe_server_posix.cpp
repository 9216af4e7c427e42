#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "gamelink/test_pipe_server.h"

TestPipeServer::TestPipeServer() {
  char dir[] = "/tmp/tovel-pipe-test-XXXXXX";
  if (mkdtemp(dir)) dir_ = dir;
  // The channel looks for the socket in this folder.
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
}

TestPipeServer::~TestPipeServer() {
  CloseClient();
  if (listener_ >= 0) close(static_cast<int>(listener_));
  if (!name_.empty()) unlink((dir_ + "/" + name_).c_str());
  if (!dir_.empty()) rmdir(dir_.c_str());
}

bool TestPipeServer::Create(const std::string& name) {
  name_ = name;
  const std::string path = dir_ + "/" + name;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  listener_ = fd;
  return bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 1) == 0;
}

bool TestPipeServer::Accept() {
  int fd = accept(static_cast<int>(listener_), nullptr, nullptr);
  if (fd < 0) return false;
  client_ = fd;
  // One client at a time, like a pipe with a single instance.
  close(static_cast<int>(listener_));
  listener_ = -1;
  return true;
}

bool TestPipeServer::Write(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(static_cast<int>(client_), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void TestPipeServer::CloseClient() {
  if (client_ >= 0) close(static_cast<int>(client_));
  client_ = -1;
}
