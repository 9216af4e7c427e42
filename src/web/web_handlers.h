// Everything the web page can ask of the helper. The last segment of the request
// URI names the command: "handshake" identifies the game and the helper, "killgame"
// ends the game, any other name is an event queue that a GET polls, waiting up to
// about a second for an event. The URI is the request target as received (not decoded).
#pragma once
#include <cstdint>
#include <string>

#include "http/deferred_reply.h"

// 200 with the body and its content type, or 400 / 404; or, for a poll of an empty
// queue, kAnswerLater: the poll is parked and answered by the first event posted
// within about a second, else with "null".
int32_t WebGetRequestHandler(const std::string& uri, std::string& contentType, std::string& body,
                             http::server::reply_deferral& later);

// Only "killgame"; content is not consulted.
int32_t WebPostRequestHandler(const std::string& uri, const std::string& content, std::string& contentType,
                              std::string& body);

// {"app_id": "<game id>","helper_version": "1.6.1"}
void BuildHandshakeJson(std::string& body);
