#pragma once
// The operator's daily traffic log: <dir>/us<yyyymmdd>.log, one entry per call, never pruned.
// Callers hold the controller's Lock, so entries never interleave.

#include <filesystem>
#include <string_view>

#include "util/clock.h"

namespace ab {

class DailyLog {
 public:
  DailyLog(std::filesystem::path dir, const Clock& clock) : dir_(std::move(dir)), clock_(clock) {}

  // Appends "<date time> - <text>\r\n" to the file of the current local day. Failures (locked
  // file, full disk, no permission) drop the entry: the log must never disturb the service.
  void WriteDailyLog(std::string_view text) const;

  std::filesystem::path FileFor(Clock::WallTime t) const;

 private:
  std::filesystem::path dir_;
  const Clock& clock_;
};

}  // namespace ab
