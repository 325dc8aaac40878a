#pragma once
// Wakes HTTP handlers that wait for the link (a package in the "bg" cursor, an awaited file)
// instead of letting them poll. The controller calls Notify whenever the link stores a package
// or completes a file; Cancel ends every wait at once while the server stops.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "util/clock.h"

namespace ab {

class LinkSignal {
 public:
  // The clock must outlive the signal.
  explicit LinkSignal(const Clock& clock) : clock_(clock) {}

  void Notify();
  // Every current and later wait returns false at once, until Resume.
  void Cancel();
  void Resume();
  bool Cancelled();

  // Waits until ready() holds, the clock reaches deadline, or Cancel. ready() is called without
  // this signal's lock held and may take the controller's Lock. True when ready() held.
  // A ManualClock moved forward needs a Notify to wake a waiter.
  bool WaitUntil(Clock::SteadyTime deadline, const std::function<bool()>& ready);

  // Number of threads inside WaitUntil (tests synchronise on it).
  int32_t Waiters();

 private:
  const Clock& clock_;
  std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t generation_ = 0;
  bool cancelled_ = false;
  int32_t waiters_ = 0;
};

}  // namespace ab
