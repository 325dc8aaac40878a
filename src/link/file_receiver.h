#pragma once
// Reception of one file at a time from the server into <base>/temp: the "sendfile"
// announcement, the chunks written at their offsets, the completion map, and the hand-over of
// the finished file. Runs on the protocol thread only.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "link/completion_map.h"
#include "link/datagram.h"

namespace ab {

class client_udp;

class FileReceiver {
 public:
  static constexpr int32_t kMaxAnnouncements = 10;
  // Called with the announced name and the message's TotalSize once every chunk is written.
  using Deliver = std::function<void(const std::string& name, int32_t total_size)>;

  FileReceiver(client_udp& link, Deliver deliver);
  ~FileReceiver();
  FileReceiver(const FileReceiver&) = delete;
  FileReceiver& operator=(const FileReceiver&) = delete;

  // "sendfile" from the server.
  void Announce(const std::string& text);
  // A chunk of kind 1; data is the payload after its key bytes.
  void Chunk(const DatagramHeader& h, std::span<const uint8_t> data);
  // Link reset: the file is closed (a partial file stays on disk) and the count restarts.
  void OnReset();

  bool Receiving() const { return file_ != nullptr; }
  // Message number of the file being received, 0 for none.
  int64_t Number() const { return file_ ? number_ : 0; }
  int32_t Announcements() const { return announcements_; }
  const std::string& AnnouncedName() const { return announced_; }
  std::filesystem::path TempPath(const std::string& name) const;
  // Attempts at opening an existing file held by another process, 1 ms apart.
  int OpenAttempts = 401;

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  bool Open(const DatagramHeader& h);
  void Log(std::string line);

  client_udp& link_;
  Deliver deliver_;
  std::string announced_;
  std::unique_ptr<std::FILE, Closer> file_;
  int64_t file_size_ = 0;
  int64_t number_ = 0;
  CompletionMap map_;
  int32_t announcements_ = 0;
};

}  // namespace ab
