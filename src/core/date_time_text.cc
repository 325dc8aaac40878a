#include "core/date_time_text.h"

#include <ctime>
#include <cstdio>

namespace ab {
namespace {

struct LocalTime {
  std::tm tm{};
  long long ms = 0;
};

LocalTime ToLocal(Clock::WallTime t) {
  using namespace std::chrono;
  LocalTime out;
  const auto since = t.time_since_epoch();
  auto secs = duration_cast<seconds>(since);
  if (since < secs) secs -= seconds(1);  // floor for times before the epoch
  out.ms = duration_cast<milliseconds>(since - secs).count();
  const std::time_t tt = static_cast<std::time_t>(secs.count());
  localtime_r(&tt, &out.tm);
  return out;
}

}  // namespace

std::string FormatDateTime(Clock::WallTime t) {
  const LocalTime lt = ToLocal(t);
  char buf[48];
  if (lt.tm.tm_hour == 0 && lt.tm.tm_min == 0 && lt.tm.tm_sec == 0 && lt.ms == 0) {
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", lt.tm.tm_mday, lt.tm.tm_mon + 1,
                  lt.tm.tm_year + 1900);
  } else {
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", lt.tm.tm_mday,
                  lt.tm.tm_mon + 1, lt.tm.tm_year + 1900, lt.tm.tm_hour, lt.tm.tm_min,
                  lt.tm.tm_sec);
  }
  return buf;
}

std::string FormatDay(Clock::WallTime t) {
  const LocalTime lt = ToLocal(t);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", lt.tm.tm_year + 1900, lt.tm.tm_mon + 1,
                lt.tm.tm_mday);
  return buf;
}

}  // namespace ab
