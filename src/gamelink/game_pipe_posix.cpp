#include <cstdlib>

#include "gamelink/game_pipe.h"

namespace {
std::string SocketPath(const std::string& pipePath) {
  const size_t slash = pipePath.find_last_of('\\');
  const std::string name = slash == std::string::npos ? pipePath : pipePath.substr(slash + 1);
  const char* dir = getenv("XDG_RUNTIME_DIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/" + name;
}
}  // namespace

bool OpenGamePipe(GamePipe& pipe, const std::string& pipePath, boost::system::error_code& error) {
  const boost::asio::local::stream_protocol::endpoint endpoint(SocketPath(pipePath));
  pipe.open(endpoint.protocol(), error);
  if (error) return false;
  // A missing socket (ENOENT), no listener (ECONNREFUSED) or a full backlog (EAGAIN)
  // fails at once, like an absent or busy pipe.
  pipe.non_blocking(true, error);
  if (!error) pipe.connect(endpoint, error);
  if (!error) return true;
  boost::system::error_code ignored;
  pipe.close(ignored);
  return false;
}
