// The request parser on the bytes a local program sends: fed whole, one byte per
// read and in random pieces, each piece in a buffer of exactly its size, the outcome
// (complete, malformed or need more, where it was decided, and the parsed request)
// must be the same. With a small head limit as well as the real one.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "http/request_scanner.h"

using http::server::incoming_request;
using http::server::request_scanner;
using http::server::scan_result;

namespace {

struct Outcome {
  scan_result result = scan_result::need_more;
  size_t decided_at = 0;  // bytes consumed when the result was decided
  incoming_request request;
};

Outcome ScanInPieces(const uint8_t* data, const std::vector<size_t>& pieces, size_t limit) {
  request_scanner scanner(limit);
  Outcome out;
  size_t offset = 0;
  for (size_t piece : pieces) {
    // A buffer of exactly the bytes of this read: one byte more would be an overflow.
    std::unique_ptr<char[]> chunk(new char[piece]);
    std::memcpy(chunk.get(), data + offset, piece);
    const auto step = http::server::scan(scanner, out.request, chunk.get(), chunk.get() + piece);
    FUZZ_CHECK(step.next >= chunk.get() && step.next <= chunk.get() + piece);
    if (step.result != scan_result::need_more) {
      out.result = step.result;
      out.decided_at = offset + static_cast<size_t>(step.next - chunk.get());
      return out;
    }
    FUZZ_CHECK(step.next == chunk.get() + piece);
    offset += piece;
  }
  out.decided_at = offset;
  return out;
}

bool SameRequest(const incoming_request& a, const incoming_request& b) {
  if (a.verb != b.verb || a.target != b.target || a.version_major != b.version_major ||
      a.version_minor != b.version_minor || a.fields.size() != b.fields.size())
    return false;
  for (size_t i = 0; i < a.fields.size(); ++i) {
    if (a.fields[i].name != b.fields[i].name || a.fields[i].value != b.fields[i].value) return false;
  }
  return true;
}

void CheckSame(const Outcome& whole, const Outcome& cut) {
  FUZZ_CHECK(cut.result == whole.result);
  FUZZ_CHECK(cut.decided_at == whole.decided_at);
  FUZZ_CHECK(SameRequest(cut.request, whole.request));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t small_limit = 1 + data[0] % 64;
  for (size_t limit : {http::server::kMaxRequestHead, small_limit}) {
    const Outcome whole = ScanInPieces(data, {size}, limit);
    FUZZ_CHECK(whole.decided_at <= limit + 1);
    if (whole.result == scan_result::complete) {
      FUZZ_CHECK(!whole.request.verb.empty());
      FUZZ_CHECK(whole.decided_at >= 4 && std::memcmp(data + whole.decided_at - 4, "\r\n\r\n", 4) == 0);
    }
    CheckSame(whole, ScanInPieces(data, OneBytePieces(size), limit));
    CheckSame(whole, ScanInPieces(data, RandomCuts(data, size, 1), limit));
    CheckSame(whole, ScanInPieces(data, RandomCuts(data, size, 2), limit));
  }
  return 0;
}
