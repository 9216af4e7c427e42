#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "game_pipe.h"

GamePipe::GamePipe(const std::string& name) : name_(name) {}

GamePipe::~GamePipe() { Close(); }

std::string GamePipe::Path() const {
  const char* dir = getenv("XDG_RUNTIME_DIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/" + name_;
}

bool GamePipe::Created() const { return listener_ != -1 || connected_; }
bool GamePipe::HasClient() const { return connected_; }

bool GamePipe::Create(uint32_t* error) {
  if (Created()) return true;
  const std::string path = Path();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    *error = ENAMETOOLONG;
    return false;
  }
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = static_cast<uint32_t>(errno);
    return false;
  }
  unlink(path.c_str());  // left over from a game that was killed
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) {
    *error = static_cast<uint32_t>(errno);
    close(fd);
    return false;
  }
  listener_ = fd;
  return true;
}

bool GamePipe::WaitClient(uint32_t* error) {
  if (connected_) return true;
  if (!Create(error)) return false;
  int fd;
  do {
    fd = accept4(static_cast<int>(listener_), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *error = static_cast<uint32_t>(errno);
    return false;
  }
  // One helper at a time: a second one is refused, as by a busy pipe.
  close(static_cast<int>(listener_));
  listener_ = -1;
  client_ = fd;
  connected_ = true;
  return true;
}

bool GamePipe::Write(const std::string& bytes, uint32_t* error) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(static_cast<int>(client_), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = static_cast<uint32_t>(n < 0 ? errno : EPIPE);
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

void GamePipe::Close() {
  // Bytes already sent stay readable for the helper, which then sees the end.
  if (client_ != -1) close(static_cast<int>(client_));
  if (listener_ != -1) close(static_cast<int>(listener_));
  if (client_ != -1 || listener_ != -1) unlink(Path().c_str());
  client_ = -1;
  listener_ = -1;
  connected_ = false;
}
