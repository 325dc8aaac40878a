#pragma once
// Diagnostic log writer: producers push finished lines into Queue; a thread of its own appends
// them to <base>/logs/<Prefix>_yyyymmdd.log (a first line at once, then at most one file open
// per 50 ms while lines keep coming) and deletes files older than KeepDays once per calendar
// day. Producers never touch the disk.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>

#include "util/clock.h"
#include "util/fifo.h"

namespace ab {

class TLog {
 public:
  // Creates <base_dir>/logs. With start_thread the writer runs until Stop or destruction; tests
  // pass false and call Pass() themselves. The clock must outlive the writer.
  TLog(std::filesystem::path base_dir, const Clock& clock, bool start_thread = true);
  ~TLog();
  TLog(const TLog&) = delete;
  TLog& operator=(const TLog&) = delete;

  OchFIFOJSON Queue;  // capacity 5000
  // Set by the owner before Enabled. The writer reads it only once it has seen Enabled true,
  // which is what publishes it to the writer thread; until then it neither writes nor cleans.
  std::string Prefix;
  std::atomic<bool> Enabled{false};
  std::atomic<int32_t> KeepDays{3};  // 0 (or less) switches the clean-up off

  // One pass of the writer: write or discard what is queued, then the daily clean-up. Only
  // while the thread is not running (tests).
  void Pass();
  // Ends the thread after its current pass, writes what is still queued, and joins it.
  // Idempotent.
  void Stop();

 private:
  // Returns whether lines were written.
  bool RunPass();
  void Run();
  void WriteQueued(const std::tm& now);
  void CleanUp(int64_t today);

  static constexpr int64_t kNever = std::numeric_limits<int64_t>::min();

  std::filesystem::path base_dir_;
  const Clock& clock_;
  int64_t last_cleanup_day_ = kNever;  // local calendar day, days since 1970-01-01
  bool prefix_published_ = false;      // writer side: Enabled has been seen true
  std::atomic<bool> stop_{false};
  Wakeup wakeup_;       // a push or Stop
  Wakeup stop_wakeup_;  // Stop only
  std::thread thread_;
};

}  // namespace ab
