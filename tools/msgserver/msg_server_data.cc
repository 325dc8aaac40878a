// The double's data services: tables, queues and files in both directions.

#include <algorithm>

#include "link/safe_names.h"
#include "msgserver/msg_server.h"
#include "util/json.h"

namespace ab {

namespace {
constexpr int64_t kAnnounceMs = 300;  // "sendfile" repeats until the link accepts
constexpr int kMaxAnnounce = 10;
}  // namespace

void MsgServer::SendRecord(std::string bytes) {
  std::lock_guard lock(mutex_);
  outbox_.push_back({kKindRecord, std::move(bytes)});
}

void MsgServer::SetTables(std::vector<TableData> tables, bool compressed) {
  std::lock_guard lock(mutex_);
  tables_ = std::move(tables);
  compress_tables_ = compressed;
}

void MsgServer::SetFile(const std::string& name, std::string bytes) {
  std::lock_guard lock(mutex_);
  files_[name] = std::move(bytes);
}

void MsgServer::SetQueueAnswer(std::string entries) {
  std::lock_guard lock(mutex_);
  queue_answer_ = std::move(entries);
}

std::map<std::string, std::string> MsgServer::ReceivedFiles() {
  std::lock_guard lock(mutex_);
  return received_files_;
}

int MsgServer::Announcements() {
  std::lock_guard lock(mutex_);
  return announcements_;
}

std::string MsgServer::TestexAnswer() const {
  if (queue_answer_.empty()) return "{\"$c$\":\"testex\"}";
  return "{\"$c$\":\"testex\",\"queue\":[" + queue_answer_ + "]}";
}

void MsgServer::OnDataMessage(const std::string& name, const std::string& text) {
  if (name == "database" && JsonGetValue(text, "command") == "gettableraw") {
    const std::string table = JsonGetValue(text, "name");
    for (const auto& t : tables_) {
      if (t.Name != table) continue;
      const Bytes raw = BuildRawTable(t);
      const Bytes file = compress_tables_ ? Compress(raw) : raw;
      files_[table + ".raw"] = std::string(file.begin(), file.end());
      outbox_.push_back({kKindText, "{\"$c$\":\"tablerawfromfile\",\"name\":\"" + table +
                                        "\",\"filename\":\"" + table + ".raw\",\"zip\":\"" +
                                        (compress_tables_ ? "1" : "0") + "\",\"x\":\"0\"}"});
      return;
    }
  } else if (name == "getfile") {
    const std::string file = FileNamePart(JsonGetValue(text, "name"));
    const auto it = files_.find(file);
    if (it == files_.end()) {
      outbox_.push_back({kKindText, "{\"$c$\":\"sendfilenotfind\",\"name\":\"" + file + "\"}"});
      return;
    }
    serving_.push_back({file, it->second});
    if (serving_.size() == 1) NextServing();
  } else if (name == "startrecivefile") {
    // The link accepts the file announced last; the next announcement follows the file.
    if (serving_.empty()) return;
    outbox_.push_back({kKindFile, std::move(serving_.front().Bytes)});
    serving_.pop_front();
    NextServing();
  } else if (name == "sendfile") {
    offered_name_ = JsonGetValue(text, "nameinserv");
    outbox_.push_back({kKindText, "{\"$c$\":\"startrecivefile\"}"});
  }
}

void MsgServer::NextServing() {
  if (serving_.empty()) return;
  Serving& s = serving_.front();
  ++s.Announced;
  ++announcements_;
  s.NextAnnounce = TickCount(clock_) + static_cast<uint64_t>(kAnnounceMs) * kTicksPerMs;
  outbox_.push_back({kKindText, "{\"$c$\":\"sendfile\",\"name\":\"" + s.Name + "\"}"});
}

void MsgServer::AnnounceDue(uint64_t now) {
  if (serving_.empty()) return;
  Serving& s = serving_.front();
  if (s.Announced >= kMaxAnnounce || now < s.NextAnnounce) return;
  NextServing();
}

void MsgServer::OnFileChunk(const DatagramHeader& h, std::span<const uint8_t> data) {
  if (completed_.count(h.MessageNumber) != 0) return;
  if (h.TotalSize < 0 || h.ChunkCount < 1 || h.ChunkNumber < 1 || h.ChunkNumber > h.ChunkCount ||
      h.ChunkOffset < 0 ||
      static_cast<int64_t>(h.ChunkOffset) + static_cast<int64_t>(data.size()) > h.TotalSize) {
    return;
  }
  auto [it, fresh] = files_in_.try_emplace(h.MessageNumber);
  FileIn& f = it->second;
  if (fresh) {
    f.Bytes.assign(static_cast<size_t>(h.TotalSize), '\0');
    f.Count = h.ChunkCount;
  }
  if (f.Bytes.size() != static_cast<size_t>(h.TotalSize)) return;
  std::copy(data.begin(), data.end(), f.Bytes.begin() + h.ChunkOffset);
  f.Chunks.insert(h.ChunkNumber);
  if (static_cast<int32_t>(f.Chunks.size()) < f.Count) return;
  received_files_[offered_name_] = std::move(f.Bytes);
  files_in_.erase(it);
  completed_.insert(h.MessageNumber);
}

}  // namespace ab
