// Cuts the frames the game writes off the front of the received bytes and runs one
// command per frame, chosen by the frame's name. A frame, little-endian throughout:
//   'K' 'E' | total length (u16, = 7 + n + p) | n (u8) | name (n bytes)
//           | p (u16) | payload (p bytes)
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kiln {

class GantryCommand;

using ByteVector = std::vector<uint8_t>;

class CommandHandler {
 public:
  // Owns defaultCommand (may be null): it runs for every name without a command of its own.
  explicit CommandHandler(GantryCommand* defaultCommand);
  virtual ~CommandHandler();
  CommandHandler(const CommandHandler&) = delete;
  CommandHandler& operator=(const CommandHandler&) = delete;

  // Owns the command from now on; replaces any command of the same name.
  void addCommand(const std::string& name, GantryCommand* command);

  // Runs and removes every whole frame at the front of received; a partial frame stays
  // for the next call. False when the front bytes cannot be a frame (no magic, or
  // lengths that do not fit the frame's total length): they stay, and the link ends.
  bool handleReceivedData(ByteVector& received);

  // Runs the command for one frame; false when there is none to run.
  bool dispatchCommand(const std::string& name, const std::string& payload);

 private:
  std::map<std::string, std::unique_ptr<GantryCommand>> commands;
  std::unique_ptr<GantryCommand> defaultCommand;
};

}  // namespace kiln
