#include "web/events_resource.h"

#include <charconv>
#include <stdexcept>
#include <string>

#include "util/json.h"
#include "web/request_text.h"

namespace ab {
namespace {

// An entry's "event_date": a date beyond int32 still compares right as unsigned.
uint32_t EntryDate(std::string_view entry) {
  std::string v = JsonGetValue(entry, "event_date");
  int64_t n = 0;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (v.empty() || ec != std::errc() || end != v.data() + v.size()) return 0;
  if (n < INT32_MIN || n > static_cast<int64_t>(UINT32_MAX)) return 0;
  return static_cast<uint32_t>(n);
}

std::string QueuePack(const TFQueueC& q) {
  if (!q.PackReady) return "[]";
  return "[" + JsonGetValue(q.Pack, "zap") + "]";
}

HttpAnswer EventsAnswer(std::string body) {
  HttpAnswer a;
  a.ContentType = "text/json";
  a.ContentEncoding = "UTF-8";
  a.Body = std::move(body);
  return a;
}

// Immediate poll, then the wait for the next package when the server holds more entries.
// Called under the controller's Lock; releases it for the wait.
HttpAnswer PollAndWait(WebContext& ctx, LinkSignal& signal, std::unique_lock<WebContext>& lock) {
  auto deadline = ctx.GetClock().Now() + kEventsWait;
  ctx.PollNow();
  TFQueueC& q = ctx.BgQueue();
  if (q.Position >= q.Count) return EventsAnswer("[]");
  lock.unlock();
  signal.WaitUntil(deadline, [&] {
    ControllerLock hold(ctx);
    return ctx.BgQueue().PackReady;
  });
  lock.lock();
  return EventsAnswer(QueuePack(ctx.BgQueue()));
}

}  // namespace

HttpAnswer GetEvents(WebContext& ctx, LinkSignal& signal, std::string_view body) {
  if (!body.empty()) {
    ControllerLock hold(ctx);
    ctx.WriteDailyLog(body);
  }
  std::string date_text = JsonGetValue(body, "events_date");
  std::string counter_text = date_text.empty() ? JsonGetValue(body, "inc_counter") : "";

  if (!date_text.empty()) {
    auto parsed = ParseInt32(date_text);
    if (!parsed) throw std::invalid_argument("events_date is not a valid integer: " + date_text);
    auto d = static_cast<uint32_t>(*parsed);
    std::unique_lock<WebContext> lock(ctx);
    TFQueueC& q = ctx.BgQueue();
    int32_t last = q.Position;
    std::string entries = JsonGetValue(q.Pack, "zap");
    for (std::string e = JsonNextElement(entries); !e.empty(); e = JsonNextElement(entries)) {
      if (EntryDate(e) > d) continue;
      int32_t counter = ParseInt32Or0(JsonGetValue(e, "inc_counter"));
      if (counter != 0) last = counter;
    }
    if (static_cast<uint32_t>(q.DateTime) > d) return EventsAnswer(QueuePack(q));
    if (q.PackReady) q.Acknowledge(last);
    return PollAndWait(ctx, signal, lock);
  }

  if (!counter_text.empty()) {
    int32_t n = ParseInt32Or0(counter_text);
    std::unique_lock<WebContext> lock(ctx);
    TFQueueC& q = ctx.BgQueue();
    if (q.Position > n) return EventsAnswer(QueuePack(q));
    if (q.PackReady) q.Acknowledge(n);
    return PollAndWait(ctx, signal, lock);
  }

  ControllerLock hold(ctx);
  return EventsAnswer(QueuePack(ctx.BgQueue()));
}

}  // namespace ab
