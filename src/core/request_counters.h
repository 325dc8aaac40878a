#pragma once
// Request figures the HTTP handlers update and the status and info ticks read, without a lock.

#include <atomic>
#include <cstdint>

namespace ab {

struct RequestCounters {
  std::atomic<int32_t> BgRequests{0};
  std::atomic<int32_t> MesRequests{0};
  // Tick counts (util/clock.h TickCount) of the last request of each consumer; 0 = none yet.
  std::atomic<uint64_t> BgLastRequestTicks{0};
  std::atomic<uint64_t> MesLastRequestTicks{0};
};

}  // namespace ab
