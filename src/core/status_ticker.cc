#include "core/status_ticker.h"

#include <cstdio>
#include <string>

#include "core/date_time_text.h"
#include "core/texts.h"
#include "util/json.h"

namespace ab {
namespace {

constexpr double kOnlineWindowMs = 10000.0;

std::string Fixed4(const char* format, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  std::string s(buf);
  const auto first = s.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : s.substr(first);
}

// Wall nanoseconds of the last request as the status-line date; 0 (none yet) keeps the label.
void ShowLastRequest(LabelState& label, int64_t wall_ns) {
  if (wall_ns == 0) return;
  label.Text = FormatDateTime(Clock::WallTime(std::chrono::duration_cast<Clock::WallTime::duration>(
      std::chrono::nanoseconds(wall_ns))));
}

}  // namespace

StatusTicker::StatusTicker(LinkPort& link, HttpServerPort& http, StatusDisplay& display,
                           WebCounters& counters, std::mutex& lock, const TFQueueC& cursor,
                           const Clock& clock, bool bg_on, bool mes_on)
    : link_(link),
      http_(http),
      display_(display),
      counters_(counters),
      lock_(lock),
      cursor_(cursor),
      clock_(clock),
      bg_on_(bg_on),
      mes_on_(mes_on) {}

std::string StatusTicker::NoticeText(const std::string& notice) const {
  const std::string command = JsonGetValue(notice, "$c$");
  std::string text;
  if (command == "tableload") {
    text = texts::TableLoaded() + JsonGetValue(notice, "name") + texts::SizePrefix() +
           JsonGetValue(notice, "size") + texts::CountPrefix() + JsonGetValue(notice, "count");
  } else if (command == "connected") {
    text = texts::Connected();
  } else if (command == "disconnected") {
    text = texts::Disconnected();
  } else if (command == "accessdenied") {
    text = texts::AccessDenied();
  } else if (command == "getfileok") {
    text = texts::FileReceived() + JsonGetValue(notice, "name");
  } else {
    return {};
  }
  return FormatDateTime(clock_.WallNow()) + text;
}

void StatusTicker::Timer2Timer() {
  display_.DrainPosted();
  display_.IconConnected = link_.Registered();
  display_.IconAccessDenied = link_.AccessDenied();
  display_.IconPhase = link_.ActivityCounter();

  std::string notice;
  if (link_.EventQueue().Peek(notice)) {
    link_.EventQueue().Drop();
    const std::string text = NoticeText(notice);
    if (!text.empty()) display_.AddStatusLine(text);
  }

  if (link_.Registered()) {
    if (link_.TablesReady()) {
      display_.Label4 = {texts::Work(), LabelColour::Green};
      if (!http_.IsRunning()) {
        const LabelColour c = http_.Start() ? LabelColour::Green : LabelColour::Red;
        display_.Label5.Colour = c;
        display_.Label11.Colour = c;
      }
    } else {
      display_.Label4 = {texts::Loading() + std::to_string(link_.LoadPercent()) + "%",
                         LabelColour::Blue};
    }
    const int64_t datagrams = link_.DataDatagrams();
    // No data datagrams yet means no repeats, not a division by zero.
    const double repeat_percent =
        datagrams > 0 ? static_cast<double>(link_.DuplicateChunks()) * 100.0 /
                            static_cast<double>(datagrams)
                      : 0.0;
    display_.Label10.Text = texts::RatesIn() + Fixed4("%4.4f", link_.InBytesPerSecond() / 1e6) +
                            texts::RatesOut() + Fixed4("%4.4f", link_.OutBytesPerSecond() / 1e6) +
                            texts::RatesRepeat() + Fixed4("%2.4f", repeat_percent) + "%";
  } else {
    if (http_.IsRunning()) http_.Stop();
    display_.Label4 = {texts::Connecting(), LabelColour::Red};
  }

  display_.Label6.Text = std::to_string(counters_.BgRequests.load());
  ShowLastRequest(display_.Label8, counters_.BgLastRequestWall.load());
  ShowLastRequest(display_.Label14, counters_.MesLastRequestWall.load());
  int64_t waiting;
  {
    std::lock_guard lock(lock_);
    waiting = static_cast<int64_t>(cursor_.Count) - cursor_.Position;
  }
  display_.Label1.Text = std::to_string(waiting);
  display_.Label12.Text = std::to_string(counters_.MesRequests.load());
}

bool StatusTicker::RecentlyCalled(uint64_t last_ticks) const {
  if (last_ticks == 0) return false;
  return TicksToMs(last_ticks, TickCount(clock_)) < kOnlineWindowMs;
}

void StatusTicker::Timer3Timer() {
  if (!(link_.Registered() && link_.TablesReady())) return;
  const auto flag = [](bool b) { return b ? "1" : "0"; };
  std::string report = "{\"$c$\":\"info\",\"data\":[{\"bg\":";
  report += flag(bg_on_);
  report += ",\"online\":";
  report += flag(bg_online_);
  report += "},{\"mes\":";
  report += flag(mes_on_);
  report += ",\"online\":";
  report += flag(mes_online_);
  report += "}]}";
  link_.OutQueue().Push(report);
  // Computed after the push on purpose: each report carries the figure of the tick before.
  mes_online_ = RecentlyCalled(counters_.MesLastRequestTicks.load());
  bg_online_ = RecentlyCalled(counters_.BgLastRequestTicks.load());
}

}  // namespace ab
