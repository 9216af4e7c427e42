// A server's live connections. Membership is what keeps an idle connection alive;
// its pending operations hold further owners.
#pragma once
#include <cstddef>
#include <memory>
#include <unordered_set>

namespace http {
namespace server {

class connection;

class connection_registry {
 public:
  connection_registry();
  ~connection_registry();
  connection_registry(const connection_registry&) = delete;
  connection_registry& operator=(const connection_registry&) = delete;

  // Inserts it, then starts it.
  void admit(const std::shared_ptr<connection>& c);
  // Removes it (if present), then closes its socket.
  void retire(const std::shared_ptr<connection>& c);
  // Closes every member's socket, then empties the set.
  void retire_all();

  std::size_t size() const { return members_.size(); }

 private:
  std::unordered_set<std::shared_ptr<connection>> members_;
};

}  // namespace server
}  // namespace http
