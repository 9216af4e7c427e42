#include "launcher/switches.h"

#include <cstdlib>
#include <cstring>

bool SwitchValueIsOn(const char* value) { return value != nullptr && std::strcmp(value, "1") == 0; }

bool SwitchIsOn(const char* variableName) { return SwitchValueIsOn(std::getenv(variableName)); }
