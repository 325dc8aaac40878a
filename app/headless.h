#pragma once
// The window-less front end: the two timers from a plain loop, every status line on stdout in
// UTF-8, SIGINT/SIGTERM end the loop.

#include <functional>

namespace ab::app {

// Blocks SIGINT and SIGTERM in the calling thread and every thread created after it, so the
// loop below receives them synchronously. Call first thing in main().
void BlockStopSignals();

// Runs timer2 every 100 ms and timer3 every 1000 ms until SIGINT or SIGTERM arrives; returns
// the signal number.
int RunTimerLoop(const std::function<void()>& timer2, const std::function<void()>& timer3);

}  // namespace ab::app
