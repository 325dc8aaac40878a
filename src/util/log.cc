#include "util/log.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

namespace ab {
namespace {

constexpr auto kPassInterval = std::chrono::milliseconds(50);
constexpr int32_t kQueueCapacity = 5000;

int64_t DayNumber(std::chrono::year_month_day ymd) {
  return std::chrono::sys_days(ymd).time_since_epoch().count();
}

int64_t DayNumber(const std::tm& t) {
  return DayNumber(std::chrono::year{t.tm_year + 1900} / (t.tm_mon + 1) / t.tm_mday);
}

// A run of decimal digits at [pos, pos + len) of text, or fallback when there is none there.
int Digits(std::string_view text, size_t pos, size_t len, int fallback) {
  if (pos >= text.size()) return fallback;
  const std::string_view part = text.substr(pos, len);
  int value = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return fallback;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The day a log file name stands for; names without a usable date count as 1 January 2020, so
// that they are cleaned away rather than kept for ever.
int64_t FileDay(std::string_view date_part) {
  using namespace std::chrono;
  const year_month_day floor = year{2020} / 1 / 1;
  const int y = Digits(date_part, 0, 4, 2000);
  const int m = Digits(date_part, 4, 2, 1);
  const int d = Digits(date_part, 6, 2, 1);
  if (y < 2020) return DayNumber(floor);
  const year_month_day ymd = year{y} / m / d;
  // Month 13 or day 32 is no more a date than letters are.
  if (!ymd.ok()) return DayNumber(floor);
  return DayNumber(ymd);
}

}  // namespace

TLog::TLog(std::filesystem::path base_dir, const Clock& clock, bool start_thread)
    : base_dir_(std::move(base_dir)), clock_(clock) {
  std::error_code ec;
  std::filesystem::create_directories(base_dir_ / "logs", ec);
  Queue.SetCapacity(kQueueCapacity);
  Queue.SetWakeup(&wakeup_);
  if (start_thread) thread_ = std::thread(&TLog::Run, this);
}

TLog::~TLog() { Stop(); }

void TLog::Stop() {
  stop_ = true;
  wakeup_.Notify();
  stop_wakeup_.Notify();
  if (thread_.joinable()) thread_.join();
}

void TLog::Pass() { RunPass(); }

void TLog::Run() {
  while (!stop_) {
    const bool had_lines = RunPass();
    if (stop_) break;
    if (had_lines) {
      // Lines gather for one interval, so a busy producer costs one file open per pass.
      stop_wakeup_.WaitFor(kPassInterval);
    } else {
      wakeup_.WaitFor(kPassInterval);
    }
  }
  // What was queued before Stop is written rather than dropped with the queue.
  RunPass();
}

bool TLog::RunPass() {
  const std::time_t t = std::chrono::system_clock::to_time_t(clock_.WallNow());
  std::tm now{};
  localtime_r(&t, &now);

  bool had_lines = false;
  if (!Enabled.load(std::memory_order_acquire)) {
    // Bounded by what is there now, so a producer cannot keep the pass going.
    for (int32_t n = Queue.Size(); n > 0 && Queue.NotEmpty(); --n) Queue.Drop();
  } else {
    prefix_published_ = true;
    if (Queue.NotEmpty()) {
      had_lines = true;
      WriteQueued(now);
    }
  }

  const int32_t keep = KeepDays.load();
  if (keep > 0 && prefix_published_) {
    const int64_t today = DayNumber(now);
    if (today != last_cleanup_day_) {
      last_cleanup_day_ = today;
      CleanUp(today - keep);
    }
  }
  return had_lines;
}

void TLog::WriteQueued(const std::tm& now) {
  const std::filesystem::path dir = base_dir_ / "logs";
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);  // it may have been removed meanwhile

  char date[32];
  std::snprintf(date, sizeof date, "%04d%02d%02d", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
  std::ofstream file(dir / (Prefix + "_" + date + ".log"), std::ios::binary | std::ios::app);
  if (!file) return;  // the lines stay queued for the next pass

  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d - ", now.tm_hour, now.tm_min, now.tm_sec);
  // Only what is queued now: lines pushed meanwhile wait for the next pass instead of being
  // dropped unwritten.
  std::string batch;
  std::string line;
  for (int32_t n = Queue.Size(); n > 0 && Queue.Pop(line); --n) {
    batch += stamp;
    batch += line;
    batch += "\r\n";
  }
  // A failed write loses this batch only; the next pass opens the file afresh.
  file.write(batch.data(), static_cast<std::streamsize>(batch.size()));
}

void TLog::CleanUp(int64_t cutoff_day) {
  const std::filesystem::path dir = base_dir_ / "logs";
  const std::string lead = Prefix + "_";
  std::vector<std::filesystem::path> doomed;
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // Only names that begin with our prefix: "xudpc_..." belongs to someone else.
    if (!name.starts_with(lead)) continue;
    std::error_code type_ec;
    if (it->is_directory(type_ec)) continue;
    const std::string_view rest = std::string_view(name).substr(lead.size());
    const size_t dot = rest.find('.');
    const std::string_view date_part = dot == std::string_view::npos ? "" : rest.substr(0, dot);
    if (FileDay(date_part) <= cutoff_day) doomed.push_back(it->path());
  }
  for (const auto& path : doomed) std::filesystem::remove(path, ec);  // failures are left be
}

}  // namespace ab
