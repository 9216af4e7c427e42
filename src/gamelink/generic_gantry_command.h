// The command that runs for every frame of the game: the frame becomes an event
// (game id, frame name, the first eight words of the payload) posted to every queue.
#pragma once
#include <string>
#include <vector>

#include "common/text.h"
#include "gamelink/gantry_command.h"
#include "events/event_queues.h"

class GenericGantryCommand : public kiln::GantryCommand {
 public:
  GenericGantryCommand(const WideString& gameId, EventQueues& queues);
  void execute(const std::string& name, const std::string& payload) override;

 private:
  WideString gameId;
  EventQueues& queues;
};

// The payload's words: only the space separates, runs of spaces count as one, and
// leading or trailing spaces give no word; an empty payload is one empty word.
std::vector<std::string> SplitPayloadWords(const std::string& payload);
