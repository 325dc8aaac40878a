#pragma once
// The two timer handlers of the status window: the 100 ms status tick (notices, state, rates,
// counts, starting and stopping the HTTP server) and the 1 s info tick (the info report).
// Both run on the GUI thread (or the headless loop); each call is one tick.

#include <cstdint>
#include <mutex>

#include "core/link_port.h"
#include "core/status_display.h"
#include "util/clock.h"
#include "util/queue.h"
#include "web/web_context.h"

namespace ab {

class StatusTicker {
 public:
  // lock guards cursor; all references must outlive the ticker.
  StatusTicker(LinkPort& link, HttpServerPort& http, StatusDisplay& display,
               WebCounters& counters, std::mutex& lock, const TFQueueC& cursor,
               const Clock& clock, bool bg_on, bool mes_on);

  void Timer2Timer();
  void Timer3Timer();

  bool BgOnline() const { return bg_online_; }
  bool MesOnline() const { return mes_online_; }

  // The memo text for one link notice; empty for a notice that shows nothing.
  std::string NoticeText(const std::string& notice) const;

 private:
  bool RecentlyCalled(uint64_t last_ticks) const;

  LinkPort& link_;
  HttpServerPort& http_;
  StatusDisplay& display_;
  WebCounters& counters_;
  std::mutex& lock_;
  const TFQueueC& cursor_;
  const Clock& clock_;
  const bool bg_on_;
  const bool mes_on_;
  bool bg_online_ = false;
  bool mes_online_ = false;
};

}  // namespace ab
