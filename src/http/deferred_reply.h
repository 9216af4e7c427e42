// A request that its handler answers later instead of on return, for a poll that
// waits for something to happen without holding the one thread every port shares.
// The connection keeps the request open, watching only for the client hanging up,
// until the handler answers or the deadline passes. Everything runs on the thread
// of the I/O service.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace http {
namespace server {

// A handler's status meaning "answered later, through the deferral".
constexpr int32_t kAnswerLater = -1;

class deferred_reply {
 public:
  // Answers as the handler's return would have: 200 with the content type and body,
  // or a canned reply. Only the first answer counts, and none after the connection
  // has ended (the client hung up, or the server stopped).
  virtual void answer(int32_t status, const std::string& content_type, const std::string& body) = 0;
  // True until answered or ended.
  virtual bool waiting() const = 0;

 protected:
  ~deferred_reply() = default;
};

// What a GET handler is given so that it can answer later.
class reply_deferral {
 public:
  // Called when the deadline passes while the request still waits; it must answer.
  using deadline_fn = std::function<void(deferred_reply&)>;
  // Parks the request; the handler then returns kAnswerLater.
  virtual std::weak_ptr<deferred_reply> defer(std::chrono::milliseconds deadline, deadline_fn on_deadline) = 0;

 protected:
  ~reply_deferral() = default;
};

}  // namespace server
}  // namespace http
