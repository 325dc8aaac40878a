#include "core/daily_log.h"

#include <cstdio>
#include <string>

#include "core/date_time_text.h"

namespace ab {

std::filesystem::path DailyLog::FileFor(Clock::WallTime t) const {
  return dir_ / ("us" + FormatDay(t) + ".log");
}

void DailyLog::WriteDailyLog(std::string_view text) const {
  const auto now = clock_.WallNow();
  std::string entry = FormatDateTime(now);
  entry += " - ";
  entry += text;
  entry += "\r\n";
  std::FILE* f = std::fopen(FileFor(now).c_str(), "ab");
  if (f == nullptr) return;
  std::fwrite(entry.data(), 1, entry.size(), f);
  std::fclose(f);
}

}  // namespace ab
