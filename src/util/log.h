#pragma once
// Diagnostic log writer: producers push finished lines into Queue; a thread of its own appends
// them every 50 ms to <base>/logs/<Prefix>_yyyymmdd.log and deletes files older than KeepDays
// once per calendar day. Producers never touch the disk.

#include <atomic>
#include <filesystem>
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

  OchFIFOJSON Queue;                // capacity 5000
  std::string Prefix;               // set by the owner before Enabled
  std::atomic<bool> Enabled{false};
  std::atomic<int32_t> KeepDays{3};  // 0 switches the clean-up off

  // One pass of the writer: write or discard what is queued, then the daily clean-up.
  void Pass();
  // Ends the thread after its current pass and joins it. Idempotent.
  void Stop();

 private:
  void Run();

  std::filesystem::path base_dir_;
  const Clock& clock_;
  int64_t last_cleanup_day_ = 0;  // days since the epoch, local; 0 = never
  std::atomic<bool> stop_{false};
  Wakeup wakeup_;
  std::thread thread_;
};

}  // namespace ab
