// A page that drains its queue as fast as one page can: polls one after another, each
// on a new connection as a browser's would be, with as little work of its own as
// possible, so that the rate it reaches is the helper's.
//
//   drain_page PORT QUEUE NAME COUNT
//
// Takes COUNT events named NAME, whose first parameter is their sequence number (1, 2,
// ...), checks that each comes once and in order, and prints "events/s N" and the
// wall time from its first to its last event.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Poll(const sockaddr_in& address, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    perror("connect");
    exit(2);
  }
  if (send(fd, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
    perror("send");
    exit(2);
  }
  std::string reply;
  char chunk[4096];
  for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;) reply.append(chunk, static_cast<size_t>(n));
  close(fd);
  return reply;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: %s PORT QUEUE NAME COUNT\n", argv[0]);
    return 2;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(atoi(argv[1])));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request = std::string("GET /") + argv[2] +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://localhost\r\n\r\n";
  const std::string name = std::string("\t") + argv[3] + "\t";
  const long count = atol(argv[4]);

  long got = 0;
  std::chrono::steady_clock::time_point first, last;
  while (got < count) {
    const std::string reply = Poll(address, request);
    const size_t body = reply.find("\r\n\r\n");
    if (reply.compare(0, 13, "HTTP/1.0 200 ") != 0 || body == std::string::npos) {
      fprintf(stderr, "unexpected reply: %.200s\n", reply.c_str());
      return 1;
    }
    const size_t at = reply.find(name, body);
    if (at == std::string::npos) continue;  // null, or another event
    const long seq = atol(reply.c_str() + at + name.size());
    if (seq != got + 1) {
      fprintf(stderr, "event %ld after %ld\n", seq, got);
      return 1;
    }
    last = std::chrono::steady_clock::now();
    if (++got == 1) first = last;
  }
  const double seconds = std::chrono::duration<double>(last - first).count();
  printf("events/s %.0f\nseconds %.3f\n", count > 1 ? (count - 1) / seconds : 0.0, seconds);
  return 0;
}
