#include "launcher/activation_switch.h"

const char kActivateSwitch[] = "--activate-webhelper";

bool TakeActivateSwitch(WideString& commandLine) {
  static const WideString needle = Widen(kActivateSwitch);
  const size_t at = commandLine.find(needle);
  if (at == WideString::npos) return false;
  commandLine.erase(at, needle.size());
  return true;
}
