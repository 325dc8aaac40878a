#pragma once
// A link and the message-server double on an in-memory socket pair, stepped by hand one
// simulated millisecond at a time.

#include <chrono>
#include <cstdint>

#include "link/client_udp.h"
#include "msgserver/msg_server.h"
#include "util/clock.h"

namespace ab::test {

// Everything waiting on both sides, then the clock moves on by 1 ms.
inline void TickWithDouble(client_udp& link, MsgServer& server, ManualClock& clock) {
  while (link.ReceivePass()) {
  }
  for (int i = 0; i < 10 && link.Iterate(); ++i) {
  }
  server.Step();
  clock.Advance(std::chrono::milliseconds(1));
}

// Ticks until done() or the simulated time runs out; false on time-out.
template <typename F>
bool RunWithDoubleUntil(client_udp& link, MsgServer& server, ManualClock& clock, F done,
                        std::chrono::milliseconds limit) {
  for (int64_t t = 0; t < limit.count(); ++t) {
    if (done()) return true;
    TickWithDouble(link, server, clock);
  }
  return done();
}

}  // namespace ab::test
