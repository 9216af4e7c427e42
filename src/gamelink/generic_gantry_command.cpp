#include "gamelink/generic_gantry_command.h"

#include "common/log.h"

GenericGantryCommand::GenericGantryCommand(const WideString& gameId, EventQueues& queues)
    : gameId(gameId), queues(queues) {}

std::vector<std::string> SplitPayloadWords(const std::string& payload) {
  std::vector<std::string> words;
  size_t at = 0;
  for (;;) {
    const size_t space = payload.find(' ', at);
    if (space != at) words.push_back(payload.substr(at, space == std::string::npos ? std::string::npos : space - at));
    if (space == std::string::npos) break;
    at = payload.find_first_not_of(' ', space);
    if (at == std::string::npos) break;
  }
  return words;
}

void GenericGantryCommand::execute(const std::string& name, const std::string& payload) {
  Log("%s: %s %s\n", "GenericGantryCommand::execute", name.c_str(), payload.c_str());

  QueuedEvent event;
  event.gameId = gameId;
  event.eventName = Utf8ToWide(name);
  const std::vector<std::string> words = SplitPayloadWords(payload);
  WideString* params[] = {&event.param1, &event.param2, &event.param3, &event.param4,
                          &event.param5, &event.param6, &event.param7, &event.param8};
  for (size_t k = 0; k < words.size() && k < 8; ++k) *params[k] = Utf8ToWide(words[k]);
  queues.PostEventToQueue(event);
}
