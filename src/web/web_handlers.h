// Everything the web page can ask of the helper. The last segment of the request
// URI names the command: "handshake" identifies the game and the helper, "killgame"
// ends the game, any other name is an event queue that a GET polls for about a
// second. The URI is the request target as received (not decoded).
#pragma once
#include <cstdint>
#include <string>

// 200 with the body and its content type, or 400 / 404.
int32_t WebGetRequestHandler(const std::string& uri, std::string& contentType, std::string& body);

// Only "killgame"; content is not consulted.
int32_t WebPostRequestHandler(const std::string& uri, const std::string& content, std::string& contentType,
                              std::string& body);

// {"app_id": "<game id>","helper_version": "1.6.1"}
void BuildHandshakeJson(std::string& body);
