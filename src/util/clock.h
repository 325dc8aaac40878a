#pragma once
// Time source for every timer of the program. The program uses SystemClock; tests use
// ManualClock and move time by hand, so no test has to sleep.

#include <atomic>
#include <chrono>
#include <cstdint>

namespace ab {

class Clock {
 public:
  using SteadyTime = std::chrono::steady_clock::time_point;
  using WallTime = std::chrono::system_clock::time_point;

  virtual ~Clock() = default;
  // Monotonic time for time-outs and rates.
  virtual SteadyTime Now() const = 0;
  // Calendar time for file names and time stamps (converted to local time by the caller).
  virtual WallTime WallNow() const = 0;
};

// steady_clock and system_clock. Thread-safe.
class SystemClock final : public Clock {
 public:
  SteadyTime Now() const override { return std::chrono::steady_clock::now(); }
  WallTime WallNow() const override { return std::chrono::system_clock::now(); }
  // The process-wide instance.
  static const SystemClock& Instance();
};

// A clock that moves only when told to. Both times advance together. Thread-safe: one thread
// may advance it while others read it.
class ManualClock final : public Clock {
 public:
  ManualClock();
  explicit ManualClock(WallTime wall_start);

  SteadyTime Now() const override;
  WallTime WallNow() const override;

  void Advance(std::chrono::nanoseconds d);
  // Moves the calendar time only (for example to just before midnight).
  void SetWall(WallTime t);

 private:
  std::atomic<int64_t> steady_ns_;
  std::atomic<int64_t> wall_ns_;
};

// Ticks of TickCount per millisecond: ticks are nanoseconds of the steady clock.
inline constexpr int64_t kTicksPerMs = 1'000'000;

// Monotonic 64-bit tick counter of the given clock.
uint64_t TickCount(const Clock& clock);

// Milliseconds between two tick counts, in floating point as the timers compare them.
inline double TicksToMs(uint64_t from, uint64_t to) {
  return static_cast<double>(static_cast<int64_t>(to - from)) / static_cast<double>(kTicksPerMs);
}

}  // namespace ab
