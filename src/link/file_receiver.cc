#include "link/file_receiver.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "link/client_udp.h"
#include "link/safe_names.h"
#include "link/sync_texts.h"
#include "util/json.h"

namespace ab {

FileReceiver::FileReceiver(client_udp& link, Deliver deliver)
    : link_(link), deliver_(std::move(deliver)) {}

FileReceiver::~FileReceiver() = default;

std::filesystem::path FileReceiver::TempPath(const std::string& name) const {
  return link_.BaseDir() / "temp" / name;
}

void FileReceiver::Log(std::string line) { link_.Log.Queue.Push(line); }

void FileReceiver::Announce(const std::string& text) {
  if (file_) {
    link_.Reset(0);
    return;
  }
  ++announcements_;
  announced_ = JsonGetValue(text, "name");
  link_.SendCommand(kStartReceiveFile);
  const ServerChannel& ch = link_.Channel();
  std::string line = "sendfile " + text + " ";
  if (ch.AddressCount() > 0) line += ch.AddressText(ch.AddressIndex());
  line += ":" + std::to_string(ch.Port()) + " " + std::to_string(link_.MessageCounter) + " " +
          std::to_string(link_.ConnectionId[0]) + std::to_string(link_.ConnectionId[1]);
  Log(std::move(line));
  if (announcements_ > kMaxAnnouncements) {
    link_.Reset(12);
    announcements_ = 0;
  }
}

bool FileReceiver::Open(const DatagramHeader& h) {
  if (!IsSafeFileName(announced_)) {
    Log("file name refused: " + announced_);
    return false;
  }
  if (h.TotalSize < 0) {
    Log("file size refused: " + std::to_string(h.TotalSize));
    return false;
  }
  const auto path = TempPath(announced_);
  std::error_code ec;
  std::FILE* f = nullptr;
  if (std::filesystem::exists(path, ec)) {
    for (int i = 0; i < OpenAttempts && f == nullptr; ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      f = std::fopen(path.c_str(), "r+b");
    }
  } else {
    f = std::fopen(path.c_str(), "w+b");
  }
  if (f == nullptr) {
    Log("cannot open " + path.string());
    return false;
  }
  file_.reset(f);
  std::filesystem::resize_file(path, static_cast<uintmax_t>(h.TotalSize), ec);
  if (ec) {
    Log("cannot size " + path.string() + ": " + ec.message());
    file_.reset();
    return false;
  }
  file_size_ = h.TotalSize;
  return true;
}

void FileReceiver::Chunk(const DatagramHeader& h, std::span<const uint8_t> data) {
  if (link_.AlreadyDone(h.MessageNumber)) return;
  link_.NoteFileData(TickCount(link_.GetClock()));
  if (!file_) {
    if (announced_.empty()) {
      link_.Reset(4);
      return;
    }
    announcements_ = 0;
    if (!Open(h)) {
      link_.Reset(3);
      return;
    }
    number_ = h.MessageNumber;
    if (link_.Registered.load()) {
      // A count the size cannot hold would make a map that never completes.
      const int32_t most = static_cast<int32_t>(std::max<int64_t>(file_size_ - 1, 0) / 960 + 1);
      map_ = CompletionMap(std::clamp(h.ChunkCount, 1, most));
    }
  }
  if (!link_.Registered.load()) return;
  const size_t n = data.size();
  if (h.ChunkOffset < 0 ||
      static_cast<int64_t>(h.ChunkOffset) + static_cast<int64_t>(n) > file_size_) {
    Log("file chunk refused: offset " + std::to_string(h.ChunkOffset) + " size " +
        std::to_string(n) + " of " + std::to_string(file_size_));
    return;
  }
  if (h.ChunkNumber < 1 || h.ChunkNumber > map_.ChunkCount()) {
    Log("file chunk refused: number " + std::to_string(h.ChunkNumber));
    return;
  }
  if (n > 0) {
    std::fseek(file_.get(), h.ChunkOffset, SEEK_SET);
    std::fwrite(data.data(), 1, n, file_.get());
  }
  if (map_.Has(h.ChunkNumber)) ++link_.DuplicateChunks;
  map_.Set(h.ChunkNumber);
  const Bytes& m = map_.Map();
  const auto full = std::count(m.begin(), m.end(), uint8_t{0xFF});
  link_.LoadPercent =
      m.empty() ? 100 : static_cast<int32_t>(full * 100 / static_cast<int64_t>(m.size()));
  if (!map_.Complete()) return;
  Log("fileok " + announced_);
  file_.reset();
  number_ = 0;
  link_.Completed(h.MessageNumber);
  if (deliver_) deliver_(announced_, h.TotalSize);
}

void FileReceiver::OnReset() {
  file_.reset();
  number_ = 0;
  announcements_ = 0;
}

}  // namespace ab
