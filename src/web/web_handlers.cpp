#include "web/web_handlers.h"

#include "common/log.h"
#include "common/text.h"
#include "common/version.h"
#include "process/process_tools.h"

namespace {

// Everything after the last slash; false when there is none.
bool CommandName(const std::string& uri, std::string& name) {
  const std::size_t slash = uri.rfind('/');
  if (slash == std::string::npos) return false;
  name.assign(uri, slash + 1, std::string::npos);
  return true;
}

}  // namespace

WebEndpoints::WebEndpoints(const WideString& gameId, const std::atomic<uint32_t>& gameProcessId, EventQueues& queues)
    : gameId(WideToUtf8(gameId)), gameProcessId(gameProcessId), parked(queues) {}

void BuildHandshakeJson(const std::string& gameId, std::string& body) {
  body.clear();
  body.reserve(48 + gameId.size());
  body += "{";
  body += "\"app_id\": \"";
  body += gameId;
  body += "\",";
  body += "\"helper_version\": \"";
  body += std::to_string(kHelperVersionMajor);
  body += '.';
  body += std::to_string(kHelperVersionMinor);
  body += '.';
  body += std::to_string(kHelperVersionPatch);
  body += "\"}";
}

int32_t WebEndpoints::WebGetRequestHandler(const std::string& uri, std::string& contentType, std::string& body,
                                           http::server::reply_deferral& later) {
  contentType = "text/plain";
  body.clear();
  Log("%s: Got call %s\n", "WebGetRequestHandler", uri.c_str());

  if (uri == "/favicon.ico") return 404;
  std::string name;
  if (!CommandName(uri, name)) return 400;

  if (name == "killgame") return KillGame();
  if (name == "handshake") {
    BuildHandshakeJson(gameId, body);
    return 200;
  }

  Log("%s: Polling queue %s\n", "WebGetRequestHandler", name.c_str());
  return parked.TakeOrPark(name, later, body) ? 200 : http::server::kAnswerLater;
}

int32_t WebEndpoints::KillGame() {
  WriteHeldLines();  // the call is in the file before the game's end can be
  return KillChildProcess(gameProcessId) ? 200 : 404;
}

int32_t WebEndpoints::WebPostRequestHandler(const std::string& uri, const std::string&, std::string& contentType,
                                            std::string& body) {
  contentType = "text/plain";
  body.clear();
  Log("%s: Got call %s\n", "WebPostRequestHandler", uri.c_str());

  std::string name;
  if (!CommandName(uri, name)) return 400;
  Log("%s: Got POST for command %s\n", "WebPostRequestHandler", name.c_str());
  if (name == "killgame") return KillGame();
  return 400;
}
