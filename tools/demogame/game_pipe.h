// The game's end of its pipe: a named pipe \\.\pipe\NAME with one instance on
// Windows; on Linux a Unix socket NAME in $XDG_RUNTIME_DIR (else /tmp), which takes
// one client and then stops listening, as a pipe with one instance is busy.
#pragma once
#include <cstdint>
#include <string>

class GamePipe {
 public:
  explicit GamePipe(const std::string& name);
  ~GamePipe();
  GamePipe(const GamePipe&) = delete;
  GamePipe& operator=(const GamePipe&) = delete;

  // Creates the pipe unless it exists; false (with the system's code) when it cannot.
  bool Create(uint32_t* error);
  bool Created() const;
  // Blocks until a helper has connected.
  bool WaitClient(uint32_t* error);
  bool HasClient() const;
  // Blocks until the pipe has taken every byte; false when the helper is gone.
  bool Write(const std::string& bytes, uint32_t* error);
  // Lets the helper read what was written, then ends the connection and removes the pipe.
  void Close();

  // The pipe's path as the system names it.
  std::string Path() const;

 private:
  std::string name_;
  intptr_t listener_ = -1;  // Linux
  intptr_t client_ = -1;    // the connected end (the pipe handle on Windows)
  bool connected_ = false;
};
