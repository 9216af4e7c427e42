// The game's pipe as a Unix-domain stream socket named after the pipe's last path
// component, in $XDG_RUNTIME_DIR (or /tmp). The socket is non-blocking: a read is
// "started" by a pump and "completes" when a later pump finds bytes; a write sends
// what the socket takes and finishes the rest in later pumps.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "gamelink/command_handler.h"
#include "gamelink/pipe_channel.h"
#include "gamelink/pipe_io.h"

struct PipeIoState {
  int handle = -1;
  kiln::CommandHandler* handler = nullptr;
  bool isOpen = false;
  kiln::ByteVector received;
  kiln::ByteVector readBuffer;
  kiln::ByteVector outgoing;
  kiln::ByteVector writing;
  bool readPending = false;
  bool writePending = false;
  size_t written = 0;  // bytes of writing already sent
};

namespace {
constexpr size_t kReadSize = 4096;

// The peer is gone: reported as a broken pipe, as on Windows.
bool PeerGone(int error) { return error == ECONNRESET || error == EPIPE || error == ENOTCONN; }

std::string SocketPath(const std::string& pipePath) {
  const size_t slash = pipePath.find_last_of('\\');
  const std::string name = slash == std::string::npos ? pipePath : pipePath.substr(slash + 1);
  const char* dir = getenv("XDG_RUNTIME_DIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}

// Sends what the socket takes now; the rest waits for a later pump.
uint32_t SendSome(PipeIoState& io) {
  while (io.written < io.writing.size()) {
    ssize_t n = send(io.handle, io.writing.data() + io.written, io.writing.size() - io.written, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      io.written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      io.writePending = true;
      return 0;
    }
    return PeerGone(errno) ? kPipeBrokenPipe : static_cast<uint32_t>(errno);
  }
  io.writePending = false;
  return 0;
}
}  // namespace

PipeIoState* CreatePipeIo(kiln::CommandHandler* handler) {
  auto* io = new PipeIoState;
  io->handler = handler;
  return io;
}

void DestroyPipeIo(PipeIoState* io) {
  if (!io) return;
  io->isOpen = false;
  io->readPending = false;
  io->writePending = false;
  if (io->handle >= 0) close(io->handle);
  delete io;
}

bool PipeIoIsOpen(const PipeIoState& io) { return io.isOpen; }
bool PipeIoHandleValid(const PipeIoState& io) { return io.handle >= 0; }

uint32_t PipeIoOpen(PipeIoState& io, const std::string& pipePath) {
  if (io.isOpen) return 0;
  const std::string path = SocketPath(pipePath);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return ENAMETOOLONG;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);

  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return static_cast<uint32_t>(errno);
  // A missing socket (ENOENT), no listener (ECONNREFUSED) or a full backlog (EAGAIN)
  // fails at once, like an absent or busy pipe.
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    uint32_t error = static_cast<uint32_t>(errno);
    close(fd);
    return error;
  }
  io.handle = fd;
  io.isOpen = true;
  return 0;
}

uint32_t PipeIoReadStep(PipeIoState& io) {
  if (io.readPending) {
    ssize_t n = recv(io.handle, io.readBuffer.data(), io.readBuffer.size(), MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;  // still in flight
      return PeerGone(errno) ? kPipeBrokenPipe : static_cast<uint32_t>(errno);
    }
    if (n == 0) return kPipeBrokenPipe;  // the game closed its end
    io.readBuffer.resize(static_cast<size_t>(n));
    io.received.insert(io.received.end(), io.readBuffer.begin(), io.readBuffer.end());
    io.readBuffer.clear();
    io.readPending = false;
    if (!io.handler->handleReceivedData(io.received)) return kPipeInvalidData;
  }
  io.readBuffer.resize(kReadSize);
  io.readPending = true;
  return 0;
}

uint32_t PipeIoWriteStep(PipeIoState& io) {
  if (io.writePending) {
    uint32_t error = SendSome(io);
    if (error != 0 || io.writePending) return error;
  }
  if (io.outgoing.empty()) return 0;
  io.writing.clear();
  io.outgoing.swap(io.writing);
  io.written = 0;
  return SendSome(io);
}

void PipeIoWait(PipeIoState& io, intptr_t wake, uint32_t timeoutMs) {
  pollfd fds[2];
  nfds_t count = 0;
  if (io.readPending && io.handle >= 0) fds[count++] = pollfd{io.handle, POLLIN, 0};
  const int wakeFd = static_cast<int>(wake);
  if (wakeFd >= 0) fds[count++] = pollfd{wakeFd, POLLIN, 0};
  if (poll(fds, count, static_cast<int>(timeoutMs)) <= 0) return;
  if (wakeFd >= 0 && (fds[count - 1].revents & POLLIN)) {
    uint64_t value = 0;
    ssize_t r = read(wakeFd, &value, sizeof value);  // auto-reset: this wait takes the set
    (void)r;
  }
}

void PipeIoQueue(PipeIoState& io, const uint8_t* bytes, size_t size) { io.outgoing.insert(io.outgoing.end(), bytes, bytes + size); }

void PipeIoClose(PipeIoState& io) {
  io.isOpen = false;
  io.readPending = false;
  io.writePending = false;
  if (io.handle >= 0) {
    close(io.handle);
    io.handle = -1;
  }
}
