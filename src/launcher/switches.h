// The environment switches: each is on only when its variable holds exactly "1".
#pragma once

// Pure rule, for a value that may be missing (nullptr).
bool SwitchValueIsOn(const char* value);

// Reads the variable from the process environment now.
bool SwitchIsOn(const char* variableName);

constexpr const char* kSwitchAlwaysActivate = "TOVELWEBHELPER_ALWAYS_ACTIVATE";
constexpr const char* kSwitchShowMessage = "TOVELWEBHELPER_SHOW_MESSAGE";
constexpr const char* kSwitchDebug = "TOVELWEBHELPER_DEBUG";
constexpr const char* kSwitchTestMode = "TOVELWEBHELPER_TEST_MODE";
constexpr const char* kSwitchWaitOnExit = "TOVELWEBHELPER_WAIT_ON_EXIT";
constexpr const char* kSwitchIgnoreOriginHeader = "TOVELWEBHELPER_IGNORE_ORIGIN_HEADER";
