// Builds frames the way the game writes them, for tests and benchmarks.
#pragma once
#include <cstdint>
#include <string>

#include "gamelink/command_handler.h"

// totalLengthDelta is added to the correct total length (7 + n + p).
inline std::string FrameBytes(const std::string& name, const std::string& payload, int totalLengthDelta = 0) {
  const size_t total = static_cast<size_t>(static_cast<long>(7 + name.size() + payload.size()) + totalLengthDelta);
  std::string frame = "KE";
  frame += static_cast<char>(total & 0xFF);
  frame += static_cast<char>((total >> 8) & 0xFF);
  frame += static_cast<char>(name.size());
  frame += name;
  frame += static_cast<char>(payload.size() & 0xFF);
  frame += static_cast<char>((payload.size() >> 8) & 0xFF);
  frame += payload;
  return frame;
}

inline kiln::ByteVector ToBytes(const std::string& s) { return kiln::ByteVector(s.begin(), s.end()); }
