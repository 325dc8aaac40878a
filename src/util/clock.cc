#include "util/clock.h"

namespace ab {

const SystemClock& SystemClock::Instance() {
  static const SystemClock clock;
  return clock;
}

namespace {
int64_t ToNs(Clock::WallTime t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}
}  // namespace

// A manual clock starts well away from the steady epoch so that "0 = never" sentinels used by
// callers never collide with a real reading.
ManualClock::ManualClock() : ManualClock(std::chrono::system_clock::now()) {}

ManualClock::ManualClock(WallTime wall_start)
    : steady_ns_(int64_t{1'000'000'000'000}), wall_ns_(ToNs(wall_start)) {}

Clock::SteadyTime ManualClock::Now() const {
  return SteadyTime(std::chrono::nanoseconds(steady_ns_.load()));
}

Clock::WallTime ManualClock::WallNow() const {
  return WallTime(std::chrono::duration_cast<WallTime::duration>(
      std::chrono::nanoseconds(wall_ns_.load())));
}

void ManualClock::Advance(std::chrono::nanoseconds d) {
  steady_ns_ += d.count();
  wall_ns_ += d.count();
}

void ManualClock::SetWall(WallTime t) { wall_ns_ = ToNs(t); }

uint64_t TickCount(const Clock& clock) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(clock.Now().time_since_epoch())
          .count());
}

}  // namespace ab
