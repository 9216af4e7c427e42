// Tests only: sets or removes an environment switch of the helper for one scope.
#pragma once
#include <cstdlib>
#include <string>

namespace http {
namespace server {

class ScopedSwitch {
 public:
  // value nullptr: the variable is removed for the scope.
  ScopedSwitch(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    Set(value);
  }
  ~ScopedSwitch() { Set(had_ ? old_.c_str() : nullptr); }
  ScopedSwitch(const ScopedSwitch&) = delete;
  ScopedSwitch& operator=(const ScopedSwitch&) = delete;

 private:
  void Set(const char* value) {
#ifdef _WIN32
    _putenv_s(name_.c_str(), value ? value : "");  // an empty value removes it
#else
    if (value) setenv(name_.c_str(), value, 1); else unsetenv(name_.c_str());
#endif
  }

  std::string name_;
  bool had_ = false;
  std::string old_;
};

}  // namespace server
}  // namespace http
