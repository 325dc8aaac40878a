#include "util/clock.h"

#include <gtest/gtest.h>

namespace ab {
namespace {

using namespace std::chrono_literals;

TEST(ManualClockTest, AdvancesSteadyAndWallTogether) {
  ManualClock clock(Clock::WallTime(std::chrono::seconds(1'700'000'000)));
  const auto steady0 = clock.Now();
  const auto wall0 = clock.WallNow();
  const uint64_t tick0 = TickCount(clock);
  clock.Advance(1500ms);
  EXPECT_EQ(clock.Now() - steady0, 1500ms);
  EXPECT_EQ(clock.WallNow() - wall0, 1500ms);
  EXPECT_DOUBLE_EQ(TicksToMs(tick0, TickCount(clock)), 1500.0);
}

TEST(ManualClockTest, SetWallLeavesSteadyTime) {
  ManualClock clock;
  const auto steady0 = clock.Now();
  clock.SetWall(Clock::WallTime(std::chrono::seconds(86'400)));
  EXPECT_EQ(clock.Now(), steady0);
  EXPECT_EQ(clock.WallNow().time_since_epoch(), std::chrono::seconds(86'400));
}

}  // namespace
}  // namespace ab
