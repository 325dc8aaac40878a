#pragma once
// Persistent outbox of messages for the message server, written by other programs under
// <base>/dd8 (index file backsoob.dat, data files bs<N>.dat) and drained by the link one
// message at a time: read, deliver, and only then remove.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "util/thread_annotations.h"

namespace ab {

class TBackSoobString {
 public:
  static constexpr int32_t kSignature = 0x0FEEFFFF;

  explicit TBackSoobString(std::filesystem::path base_dir);

  std::string SubDir;  // "dd8"; set before Load

  // How often and how long an open of an existing file is retried while another process holds
  // it (5000 times 1 ms by default). A file that does not exist is not waited for.
  void SetOpenRetries(int32_t retries, std::chrono::milliseconds pause);

  // Reads or creates the index file. Called once, before the link thread starts. A folder or
  // index file that cannot be created throws std::filesystem::filesystem_error.
  void Load();
  // Copies the oldest message without removing it; false and an empty text when there is none
  // or its record is damaged. A record of length 0 gives true and an empty text.
  bool ReadCurrent(std::string& out);
  // Removes the oldest message from the store: the record ReadCurrent last saw in the same
  // files, together with any damaged bytes before the next sound record.
  void RemoveCurrent();
  // Deletes every data file and zeroes the counters. Throws std::filesystem::filesystem_error
  // when the index file cannot be written.
  void Reset();

  int32_t Pending() const;
  int32_t ReadIndex() const;
  int32_t WriteIndex() const;

 private:
  std::filesystem::path DataPath(int32_t n) const AB_REQUIRES(mutex_);
  void SkipSpentFiles() AB_REQUIRES(mutex_);
  void ResetLocked() AB_REQUIRES(mutex_);

  std::filesystem::path base_dir_;
  mutable Mutex mutex_;
  std::filesystem::path dir_ AB_GUARDED_BY(mutex_);  // empty until Load
  std::filesystem::path index_path_ AB_GUARDED_BY(mutex_);
  int32_t pending_ AB_GUARDED_BY(mutex_) = 0;
  int32_t read_index_ AB_GUARDED_BY(mutex_) = 0;
  int32_t write_index_ AB_GUARDED_BY(mutex_) = 0;
  int32_t open_retries_ AB_GUARDED_BY(mutex_) = 5000;
  std::chrono::milliseconds open_pause_ AB_GUARDED_BY(mutex_){1};
};

}  // namespace ab
