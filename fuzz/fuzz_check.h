// What every fuzz target shares: a property check that aborts (libFuzzer then keeps
// the input as a crash), and cut points for bytes that arrive in several reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sanitizer/common_interface_defs.h>

// The message goes through the sanitizers' report channel, which stays open when the
// runs close the standard error stream to silence the helper's diagnostic lines.
#define FUZZ_CHECK(condition)                                                                  \
  do {                                                                                         \
    if (!(condition)) {                                                                        \
      char message[512];                                                                       \
      std::snprintf(message, sizeof message, "property failed: %s (%s:%d)", #condition, __FILE__, \
                    __LINE__);                                                                 \
      __sanitizer_report_error_summary(message);                                               \
      std::abort();                                                                            \
    }                                                                                          \
  } while (0)

// Lengths of the reads that carry size bytes: pseudo-random, between 1 and 16 bytes,
// drawn from a seed taken from the bytes themselves so that a saved input replays the
// same cuts.
inline std::vector<size_t> RandomCuts(const uint8_t* data, size_t size, uint32_t salt) {
  uint32_t state = 2166136261u ^ salt;
  for (size_t i = 0; i < size; ++i) state = (state ^ data[i]) * 16777619u;
  std::vector<size_t> pieces;
  for (size_t done = 0; done < size;) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    size_t piece = 1 + state % 16;
    if (piece > size - done) piece = size - done;
    pieces.push_back(piece);
    done += piece;
  }
  return pieces;
}

inline std::vector<size_t> OneBytePieces(size_t size) { return std::vector<size_t>(size, 1); }
