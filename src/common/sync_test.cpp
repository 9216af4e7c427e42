#include "common/sync.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

TEST(AutoResetEvent, SetBeforeWaitStaysPendingAndIsConsumedOnce) {
  AutoResetEvent e;
  ASSERT_TRUE(e.Create());
  EXPECT_EQ(e.Wait(0), WaitResult::TimedOut);
  e.Set();
  e.Set();  // two sets without a wait count as one
  EXPECT_EQ(e.Wait(0), WaitResult::Signaled);
  EXPECT_EQ(e.Wait(20), WaitResult::TimedOut);
  e.Close();
}

struct Shared {
  AutoResetEvent ready;
  CriticalSection lock;
  int counter = 0;
};

uint32_t Worker(void* arg) {
  auto* s = static_cast<Shared*>(arg);
  for (int i = 0; i < 10000; ++i) {
    ScopedLock hold(s->lock);
    ++s->counter;
  }
  s->ready.Set();
  return 0;
}

TEST(Thread, WorkersShareACriticalSectionAndSignalAnEvent) {
  Shared s;
  ASSERT_TRUE(s.ready.Create());
  s.lock.Initialize();
  Thread a, b;
  ASSERT_TRUE(a.Start(Worker, &s));
  ASSERT_TRUE(b.Start(Worker, &s));
  EXPECT_EQ(s.ready.Wait(kWaitForever), WaitResult::Signaled);
  a.Join();
  b.Join();
  EXPECT_EQ(s.counter, 20000);
  s.lock.Delete();
  s.ready.Close();
}

}  // namespace
