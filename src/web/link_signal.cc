#include "web/link_signal.h"

namespace ab {

void LinkSignal::Notify() {
  {
    std::lock_guard lk(mutex_);
    ++generation_;
  }
  cv_.notify_all();
}

void LinkSignal::Cancel() {
  {
    std::lock_guard lk(mutex_);
    cancelled_ = true;
    ++generation_;
  }
  cv_.notify_all();
}

void LinkSignal::Resume() {
  std::lock_guard lk(mutex_);
  cancelled_ = false;
}

bool LinkSignal::Cancelled() {
  std::lock_guard lk(mutex_);
  return cancelled_;
}

int32_t LinkSignal::Waiters() {
  std::lock_guard lk(mutex_);
  return waiters_;
}

bool LinkSignal::WaitUntil(Clock::SteadyTime deadline, const std::function<bool()>& ready) {
  std::unique_lock lk(mutex_);
  ++waiters_;
  bool result = false;
  bool check = true;
  uint64_t seen = generation_;
  for (;;) {
    if (cancelled_) break;
    if (check) {
      // Taken before ready() so that a Notify during the check is not lost.
      seen = generation_;
      lk.unlock();
      bool ok = ready();
      lk.lock();
      if (ok) {
        result = true;
        break;
      }
    }
    auto now = clock_.Now();
    if (now >= deadline) break;
    // A plain time-out only re-reads the clock; ready() is checked again after a Notify.
    check = cv_.wait_for(lk, deadline - now, [&] { return generation_ != seen || cancelled_; });
  }
  --waiters_;
  return result;
}

}  // namespace ab
