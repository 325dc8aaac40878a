#pragma once
// Persistent outbox of messages for the message server, written by other programs under
// <base>/dd8 (index file backsoob.dat, data files bs<N>.dat) and drained by the link one
// message at a time: read, deliver, and only then remove.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

namespace ab {

class TBackSoobString {
 public:
  static constexpr int32_t kSignature = 0x0FEEFFFF;

  explicit TBackSoobString(std::filesystem::path base_dir);

  std::string SubDir;  // "dd8"; set before Load

  // Reads or creates the index file. Called once, before the link thread starts.
  void Load();
  // Copies the oldest message without removing it; false and an empty text when there is none
  // or its record is damaged.
  bool ReadCurrent(std::string& out);
  // Removes the oldest message from the store.
  void RemoveCurrent();
  // Deletes every data file and zeroes the counters.
  void Reset();

  int32_t Pending() const;
  int32_t ReadIndex() const;
  int32_t WriteIndex() const;

 private:
  std::filesystem::path base_dir_;
  std::filesystem::path index_path_;
  mutable std::mutex mutex_;
  int32_t pending_ = 0;
  int32_t read_index_ = 0;
  int32_t write_index_ = 0;
};

}  // namespace ab
