// The helper's command line. Input: arguments separated by NUL bytes. The Linux build
// writes its argv as one Windows-rules text and splits it again for the game, so any
// argument list must split back to itself, and any text must split to a list that
// survives the same round. The activation switch is cut out of any wide text exactly
// once, where it first occurs.
#include <string>
#include <vector>

#include "common/text.h"
#include "fuzz_check.h"
#include "launcher/activation_switch.h"
#include "launcher/windows_arguments.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> args;
  for (size_t start = 0;;) {
    const size_t nul = bytes.find('\0', start);
    args.push_back(bytes.substr(start, nul == std::string::npos ? std::string::npos : nul - start));
    if (nul == std::string::npos) break;
    start = nul + 1;
  }
  FUZZ_CHECK(SplitWindowsArguments(JoinWindowsArguments(args)) == args);

  const std::vector<std::string> split = SplitWindowsArguments(bytes);
  FUZZ_CHECK(SplitWindowsArguments(JoinWindowsArguments(split)) == split);

  WideString text;
  for (size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  const WideString before = text;
  const WideString needle = Widen(kActivateSwitch);
  const size_t at = before.find(needle);
  const bool taken = TakeActivateSwitch(text);
  FUZZ_CHECK(taken == (at != WideString::npos));
  if (taken) {
    FUZZ_CHECK(text.size() + needle.size() == before.size());
    FUZZ_CHECK(text == before.substr(0, at) + before.substr(at + needle.size()));
  } else {
    FUZZ_CHECK(text == before);
  }
  return 0;
}
