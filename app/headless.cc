#include "headless.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>

namespace ab::app {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int RunTimerLoop(const std::function<void()>& timer2, const std::function<void()>& timer3) {
  using clock = std::chrono::steady_clock;
  using namespace std::chrono_literals;
  const sigset_t set = StopSignals();
  auto next2 = clock::now() + 100ms;
  auto next3 = clock::now() + 1000ms;
  for (;;) {
    const auto now = clock::now();
    if (now >= next2) {
      timer2();
      next2 += 100ms;
      if (next2 <= now) next2 = now + 100ms;  // after a stall, do not replay missed ticks
    }
    if (now >= next3) {
      timer3();
      next3 += 1000ms;
      if (next3 <= now) next3 = now + 1000ms;
    }
    const auto wait = std::min(next2, next3) - clock::now();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    if (ns <= 0) continue;
    timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    const int sig = sigtimedwait(&set, nullptr, &ts);
    if (sig == SIGINT || sig == SIGTERM) return sig;
  }
}

}  // namespace ab::app
