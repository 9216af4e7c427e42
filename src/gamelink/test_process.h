// Test support: a scratch folder and a child process started and stopped by its id.
#pragma once
#include <cstdint>
#include <string>

// A new empty folder for this test's files; its path ends without a separator.
std::string MakeScratchDir();
std::string InDir(const std::string& dir, const std::string& name);
void SetEnv(const std::string& name, const std::string& value);
// Copies an executable under a new name; false when it cannot.
bool CopyExecutable(const std::string& from, const std::string& to);
// The path of a file of the build tree as this program sees it.
std::string BuildTreePath(const std::string& path);

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the program with this process's environment.
  bool Start(const std::string& path);
  // The id the system's process list shows for it.
  uint32_t Id() const { return id_; }
  bool Running();
  // Kills it by its id and waits for its end; nothing to do when it never started.
  void Kill();

 private:
  uint32_t id_ = 0;
  intptr_t handle_ = 0;
};
