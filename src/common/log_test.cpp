#include "common/log.h"

#include <gtest/gtest.h>

#include <string>

#include "common/sync.h"

namespace {

void StartCapture() {
  ::testing::internal::CaptureStderr();
  PrepareDiagnostics();  // binary mode for the captured stream on Windows
}
std::string Captured() { return ::testing::internal::GetCapturedStderr(); }
// What reached the stream so far; the capture goes on.
std::string CapturedSoFar() {
  std::string so_far = Captured();
  StartCapture();
  return so_far;
}

uint32_t LogFromAnotherThread(void*) {
  Log("other thread\n");
  return 0;
}

TEST(LogBatch, HoldsThisThreadsLinesUntilTheOutermostEnds) {
  std::string midway;
  StartCapture();
  {
    LogBatch outer;
    Log("one %d\n", 1);
    {
      LogBatch inner;
      Log("two\n");
    }
    midway = CapturedSoFar();
  }
  EXPECT_EQ(midway, "");
  EXPECT_EQ(Captured(), "one 1\ntwo\n");
}

TEST(LogBatch, HeldLinesGoOutWhenAsked) {
  std::string midway;
  StartCapture();
  {
    LogBatch batch;
    Log("before the reply\n");
    WriteHeldLines();
    Log("after it\n");
    midway = CapturedSoFar();
  }
  EXPECT_EQ(midway, "before the reply\n");
  EXPECT_EQ(Captured(), "after it\n");
}

TEST(LogBatch, OtherThreadsAndLinesWithoutABatchAreWrittenAtOnce) {
  std::string midway;
  StartCapture();
  Log("%s\n", std::string(600, 'x').c_str());  // longer than the formatting buffer
  {
    LogBatch batch;
    Log("held\n");
    Thread other;
    ASSERT_TRUE(other.Start(LogFromAnotherThread, nullptr));
    other.Join();
    midway = CapturedSoFar();
  }
  std::string expected(600, 'x');
  expected += "\nother thread\n";  // appended: GCC 12 misreads a concatenation here
  EXPECT_EQ(midway, expected);
  EXPECT_EQ(Captured(), "held\n");
  WriteHeldLines();  // no batch: nothing to do
}

}  // namespace
