#include "http/connection_registry.h"

#include "http/connection.h"

namespace http {
namespace server {

connection_registry::connection_registry() { members_.reserve(64); }

connection_registry::~connection_registry() = default;

void connection_registry::admit(const std::shared_ptr<connection>& c) {
  members_.insert(c);
  c->start();
}

void connection_registry::retire(const std::shared_ptr<connection>& c) {
  members_.erase(c);
  c->close();
}

void connection_registry::retire_all() {
  for (const auto& c : members_) c->close();
  members_.clear();
}

}  // namespace server
}  // namespace http
