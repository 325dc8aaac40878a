#include "web/link_signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace ab {
namespace {

using namespace std::chrono_literals;

// Waits for a waiter, then for `calls` checks of the ready condition.
void AwaitChecks(LinkSignal& s, const std::atomic<int>& checks, int calls) {
  while (s.Waiters() == 0 || checks.load() < calls) std::this_thread::yield();
}

TEST(LinkSignalTest, WakeUpWithoutReadinessKeepsWaitingUntilReady) {
  ManualClock clock;
  LinkSignal s(clock);
  std::atomic<int> checks{0};
  std::thread link([&] {
    AwaitChecks(s, checks, 1);
    clock.Advance(1s);
    s.Notify();  // second check: still not ready
    AwaitChecks(s, checks, 2);
    clock.Advance(1s);
    s.Notify();  // third check: ready
  });
  bool ready = s.WaitUntil(clock.Now() + 5s, [&] { return ++checks >= 3; });
  link.join();
  EXPECT_TRUE(ready);
  EXPECT_EQ(checks.load(), 3);
}

TEST(LinkSignalTest, DeadlineEndsTheWaitOnlyOnceReached) {
  ManualClock clock;
  LinkSignal s(clock);
  std::atomic<int> checks{0};
  std::atomic<bool> at_deadline{false};
  std::thread link([&] {
    AwaitChecks(s, checks, 1);
    clock.Advance(4999ms);
    s.Notify();
    AwaitChecks(s, checks, 2);
    at_deadline = true;
    clock.Advance(1ms);
    s.Notify();
  });
  bool ready = s.WaitUntil(clock.Now() + 5s, [&] {
    ++checks;
    return false;
  });
  // Returning before the clock reached the deadline would beat the flag.
  EXPECT_TRUE(at_deadline.load());
  link.join();
  EXPECT_FALSE(ready);
  EXPECT_GE(checks.load(), 2);
}

TEST(LinkSignalTest, ReadyAtOnceOrPastDeadlineNeedsNoWakeUp) {
  ManualClock clock;
  LinkSignal s(clock);
  EXPECT_TRUE(s.WaitUntil(clock.Now() + 5s, [] { return true; }));
  EXPECT_FALSE(s.WaitUntil(clock.Now() - 1ms, [] { return false; }));
}

TEST(LinkSignalTest, CancelEndsWaitsUntilResumed) {
  ManualClock clock;
  LinkSignal s(clock);
  std::thread stopper([&] {
    while (s.Waiters() == 0) std::this_thread::yield();
    s.Cancel();
  });
  EXPECT_FALSE(s.WaitUntil(clock.Now() + 5s, [] { return false; }));
  stopper.join();
  EXPECT_TRUE(s.Cancelled());
  EXPECT_FALSE(s.WaitUntil(clock.Now() + 5s, [] { return false; }));
  s.Resume();
  EXPECT_FALSE(s.Cancelled());
  EXPECT_TRUE(s.WaitUntil(clock.Now() + 5s, [] { return true; }));
}

}  // namespace
}  // namespace ab
