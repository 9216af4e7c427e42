// The helper's version, shown at start, in the diagnostic box and in the handshake.
#pragma once

constexpr int kHelperVersionMajor = 1;
constexpr int kHelperVersionMinor = 6;
constexpr int kHelperVersionPatch = 1;
constexpr const char* kHelperVersionText = "1.6.1";
