#include "gamelink/command_handler.h"

#include "gamelink/gantry_command.h"

namespace kiln {

namespace {
constexpr uint8_t kMagic1 = 0x4B;  // 'K'
constexpr uint8_t kMagic2 = 0x45;  // 'E'
constexpr size_t kHeaderSize = 5;  // magic, total length, name length
constexpr size_t kFixedSize = 7;   // the header and the payload length

size_t ReadU16(const uint8_t* at) { return static_cast<size_t>(at[0]) | static_cast<size_t>(at[1]) << 8; }
}  // namespace

CommandHandler::CommandHandler(GantryCommand* defaultCommand) : defaultCommand(defaultCommand) {}

CommandHandler::~CommandHandler() {
  for (auto& entry : commands) entry.second.reset();
  defaultCommand.reset();
}

void CommandHandler::addCommand(const std::string& name, GantryCommand* command) { commands[name].reset(command); }

bool CommandHandler::handleReceivedData(ByteVector& received) {
  // Frames are cut by advancing an offset; the consumed bytes leave the vector in one
  // move at the end, however many frames one read brought.
  const uint8_t* const bytes = received.data();
  const size_t size = received.size();
  size_t consumed = 0;
  bool acceptable = true;
  while (size - consumed >= kHeaderSize) {
    const uint8_t* frame = bytes + consumed;
    const size_t available = size - consumed;
    if (frame[0] != kMagic1 || frame[1] != kMagic2) {
      acceptable = false;
      break;
    }
    const size_t total = ReadU16(frame + 2);
    if (available < total) break;  // wait for the rest
    // Only bytes inside the frame's total length are read: a frame whose name and
    // payload lengths run past it is refused like a missing magic.
    const size_t nameLength = frame[4];
    if (kFixedSize + nameLength > total) {
      acceptable = false;
      break;
    }
    const size_t payloadLength = ReadU16(frame + kHeaderSize + nameLength);
    if (kFixedSize + nameLength + payloadLength > total) {
      acceptable = false;
      break;
    }
    const uint8_t* name = frame + kHeaderSize;
    const uint8_t* payload = name + nameLength + 2;
    std::string nameText(name, name + nameLength);
    std::string payloadText(payload, payload + payloadLength);
    consumed += kFixedSize + nameLength + payloadLength;
    dispatchCommand(nameText, payloadText);
  }
  if (consumed == size) {
    received.clear();
  } else if (consumed > 0) {
    received.erase(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(consumed));
  }
  return acceptable;
}

bool CommandHandler::dispatchCommand(const std::string& name, const std::string& payload) {
  GantryCommand* command = defaultCommand.get();
  std::string passedName = name;
  auto found = commands.find(name);
  if (found != commands.end()) {
    command = found->second.get();
    passedName = found->first;
  }
  if (!command) return false;
  command->execute(passedName, payload);
  return true;
}

}  // namespace kiln
