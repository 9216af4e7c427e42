#include "web/web_server_thread.h"

#include <gtest/gtest.h>

#include "common/sync.h"
#include "process/io_service.h"
#include "process/process_values.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

uint32_t RunThread(void*) { return WebServerThread(nullptr); }

TEST(WebServerThread, NoPortsEndsAtOnce) {
  webServerPorts.clear();
  ioService.restart();
  CaptureStderr();
  EXPECT_EQ(WebServerThread(nullptr), 0u);
  EXPECT_EQ(GetCapturedStderr(), "WebServerThread: Exiting\n");
}

// Stopping the service ends the thread after its servers are gone (port 0: any free port).
TEST(WebServerThread, StopEndsTheThread) {
  webServerPorts = {0, 0};
  ioService.restart();
  CaptureStderr();
  Thread thread;
  ASSERT_TRUE(thread.Start(RunThread, nullptr));
  SleepMs(200);
  ioService.stop();
  thread.Join();
  EXPECT_EQ(GetCapturedStderr(), "WebServerThread: Exiting\n");
  // The servers' waits on the signal set outlive them; let them end so that the next
  // run of the service is not held by them.
  webServerPorts.clear();
  stopSignals.cancel();
  ioService.restart();
  ioService.poll();
  ioService.restart();
}

}  // namespace
