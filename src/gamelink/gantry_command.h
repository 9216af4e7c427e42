// The interface of a command that the game link runs for one received frame.
#pragma once
#include <string>

namespace kiln {

class GantryCommand {
 public:
  virtual ~GantryCommand() = default;
  // Neither is asked by anything in the helper; a command keeps the answers of the base.
  virtual bool expectsReply() const { return false; }
  virtual bool runsDetached() const { return false; }
  // One frame: its name and payload as raw bytes.
  virtual void execute(const std::string& name, const std::string& payload) {
    (void)name;
    (void)payload;
  }
};

}  // namespace kiln
