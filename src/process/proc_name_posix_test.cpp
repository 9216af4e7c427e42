#include "process/proc_name_posix.h"

#include <gtest/gtest.h>

#include <string>

namespace {
using namespace std::string_literals;

TEST(ProcExecutableName, FromWhatTheEntryShows) {
  struct {
    const char* what;
    std::string exeLink, cmdline, comm;
    std::string name;
  } cases[] = {
      {"exe link", "/opt/games/tovel3.exe", "tovel3.exe\0-level\0"s, "tovel3.exe", "tovel3.exe"},
      {"deleted executable", "/opt/tovel3.exe (deleted)", "", "tovel3.exe", "tovel3.exe"},
      {"only the suffix is cut", "/opt/a (deleted) b", "", "", "a (deleted) b"},
      {"exe link wins over the arguments", "/opt/real.exe", "/usr/bin/other\0"s, "real.exe", "real.exe"},
      // exe unreadable (another user's process)
      {"short comm is whole", "", "/opt/tovel3.exe\0-level\0"s, "tovel3.exe", "tovel3.exe"},
      {"cut comm, full first argument", "", "/opt/games/TovelProbe12345.exe\0x\0"s, "TovelProbe12345",
       "TovelProbe12345.exe"},
      {"first argument without a folder", "", "TovelProbe12345.exe\0"s, "TovelProbe12345", "TovelProbe12345.exe"},
      {"name of exactly 15 bytes", "", "/opt/fifteen-bytes.x\0"s, "fifteen-bytes.x", "fifteen-bytes.x"},
      {"arguments rewritten by the process", "", "worker: idle\0"s, "LongServiceName", "LongServiceName"},
      {"first argument that does not begin with comm", "", "/opt/Other1234567890\0"s, "TovelProbe12345",
       "TovelProbe12345"},
      {"no command line (kernel thread)", "", "", "kworker/u4:2-ev", "kworker/u4:2-ev"},
      {"process gone", "", "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ProcExecutableName(c.exeLink, c.cmdline, c.comm), c.name);
  }
}
}  // namespace
