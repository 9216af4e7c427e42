// The game's end of a pipe, served by a test itself: a named pipe on Windows, a
// listening Unix socket where the channel looks for it on Linux.
#pragma once
#include <cstdint>
#include <string>

class TestPipeServer {
 public:
  TestPipeServer();
  ~TestPipeServer();
  TestPipeServer(const TestPipeServer&) = delete;
  TestPipeServer& operator=(const TestPipeServer&) = delete;

  // A name no other test uses; the pipe exists from Create on, for one client.
  bool Create(const std::string& name);
  // Takes the client that has already opened the pipe.
  bool Accept();
  // Blocks until the client's side has taken every byte; false when the client is gone.
  bool Write(const std::string& bytes);
  void CloseClient();

  std::string PipePath() const { return "\\\\.\\pipe\\" + name_; }

 private:
  std::string name_;
  intptr_t listener_ = -1;  // Linux: the listening socket
  intptr_t client_ = -1;    // the connected end (the pipe handle on Windows)
  std::string dir_;         // Linux: the socket's folder
};
