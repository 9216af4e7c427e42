// Everything the web page can ask of the helper. The last segment of the request
// URI names the command: "handshake" identifies the game and the helper, "killgame"
// ends the game, any other name is an event queue that a GET polls, waiting up to
// about a second for an event. The URI is the request target as received (not decoded).
// Runs on the I/O thread.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "common/text.h"
#include "events/event_queues.h"
#include "http/deferred_reply.h"
#include "web/parked_polls.h"

class WebEndpoints {
 public:
  // gameId: for the handshake; gameProcessId: the game the kill ends, as the game link
  // learnt it (0 for none).
  WebEndpoints(const WideString& gameId, const std::atomic<uint32_t>& gameProcessId, EventQueues& queues);

  // 200 with the body and its content type, or 400 / 404; or, for a poll of an empty
  // queue, kAnswerLater: the poll is parked and answered by the first event posted
  // within about a second, else with "null".
  int32_t WebGetRequestHandler(const std::string& uri, std::string& contentType, std::string& body,
                               http::server::reply_deferral& later);

  // Only "killgame"; content is not consulted.
  int32_t WebPostRequestHandler(const std::string& uri, const std::string& content, std::string& contentType,
                                std::string& body);

  ParkedPolls& polls() { return parked; }

 private:
  int32_t KillGame();

  const std::string gameId;
  const std::atomic<uint32_t>& gameProcessId;
  ParkedPolls parked;
};

// {"app_id": "<game id>","helper_version": "1.6.1"}
void BuildHandshakeJson(const std::string& gameId, std::string& body);
