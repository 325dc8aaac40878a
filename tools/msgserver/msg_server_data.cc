// The double's data services: tables, queues and files in both directions.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>

#include "link/record_message.h"
#include "link/safe_names.h"
#include "msgserver/msg_server.h"
#include "util/json.h"

namespace ab {

namespace {
constexpr int64_t kAnnounceMs = 300;  // "sendfile" repeats until the link accepts
constexpr int kMaxAnnounce = 10;
constexpr char kQueueName[] = "bg";

// A decimal number, or nothing when the text is not one in full.
std::optional<int64_t> Decimal(const std::string& text) {
  int64_t v = 0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end) return std::nullopt;
  return v;
}

void PutLe32(std::string& out, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}
}  // namespace

void MsgServer::SendRowChange(const std::string& table, int32_t row, int32_t row_count,
                              const std::vector<ChangeEntry>& entries) {
  std::string record;
  PutLe32(record, kRecordRowChange);
  const Bytes body = BuildRowChange(table, row, row_count, entries);
  record.append(body.begin(), body.end());
  SendRecord(std::move(record));
}

void MsgServer::SendDeletion(const std::string& table, int32_t record_number) {
  std::string record;
  PutLe32(record, kRecordDeletion);
  std::string slot(kNameSlot, '\0');
  const size_t n = std::min(table.size(), kNameSlot - 1);
  slot[0] = static_cast<char>(n);
  std::copy_n(table.begin(), n, slot.begin() + 1);
  record += slot;
  PutLe32(record, record_number);
  SendRecord(std::move(record));
}

void MsgServer::AppendEvent(std::string entry) {
  const size_t open = entry.find('{');
  if (open == std::string::npos) entry = "{}";
  const size_t at = open == std::string::npos ? 0 : open;
  std::lock_guard lock(mutex_);
  const size_t position = events_.size();
  std::string head = "\"inc_counter\":\"" + std::to_string(position) + "\"";
  int64_t date = 0;
  if (entry.find("\"event_date\"") != std::string::npos) {
    date = Decimal(JsonGetValue(entry, "event_date")).value_or(0);
  } else {
    date = std::chrono::duration_cast<std::chrono::seconds>(clock_.WallNow().time_since_epoch())
               .count();
    head += ",\"event_date\":\"" + std::to_string(date) + "\"";
  }
  const size_t rest = entry.find_first_not_of(" \t\r\n", at + 1);
  const bool empty_object = rest != std::string::npos && entry[rest] == '}';
  entry.insert(at + 1, empty_object ? head : head + ",");
  events_.push_back({std::move(entry), date});
}

int64_t MsgServer::QueueCount() {
  std::lock_guard lock(mutex_);
  return static_cast<int64_t>(events_.size());
}

int64_t MsgServer::ReportedPosition() {
  std::lock_guard lock(mutex_);
  return reported_position_;
}

void MsgServer::SetPackSize(int n) {
  std::lock_guard lock(mutex_);
  pack_size_ = static_cast<size_t>(std::max(n, 1));
}

int64_t MsgServer::EventDate(size_t position) const {
  return position < events_.size() ? events_[position].Date : 0;
}

// The report of "bg" for the element the keep-alive gave: the count, the date of the newest
// entry of the package the link will hold, and the package itself when the link holds none.
// "datetime" follows the package rather than the queue's newest entry: the consumer's
// "events_date" is compared with it, and a stamp running ahead of the package would make the
// link offer the same package forever.
std::string MsgServer::QueueReport(const std::string& element) {
  const int64_t current = Decimal(JsonGetValue(element, "current")).value_or(0);
  reported_position_ = current;
  const auto count = static_cast<int64_t>(events_.size());
  const auto from = static_cast<size_t>(std::clamp<int64_t>(current, 0, count));
  const bool full = JsonGetValue(element, "full") == "1";
  std::string out = "{\"name\":\"" + std::string(kQueueName) + "\",\"count\":\"" +
                    std::to_string(count) + "\",\"datetime\":\"";
  if (full) {
    const int64_t held = std::clamp<int64_t>(Decimal(JsonGetValue(element, "inpack")).value_or(0),
                                             0, count - static_cast<int64_t>(from));
    const size_t last = from + static_cast<size_t>(held);
    return out + std::to_string(last > 0 ? EventDate(last - 1) : 0) + "\"}";
  }
  const size_t end = std::min(events_.size(), from + pack_size_);
  if (from == end) return out + std::to_string(from > 0 ? EventDate(from - 1) : 0) + "\"}";
  out += std::to_string(EventDate(end - 1)) + "\",\"inpack\":\"" + std::to_string(end - from) +
         "\",\"zap\":[";
  for (size_t i = from; i < end; ++i) {
    if (i > from) out += ',';
    out += events_[i].Text;
  }
  return out + "]}";
}

std::string MsgServer::QueueZag(const std::string& request) const {
  const std::string name = JsonGetValue(request, "name");
  int64_t count = 0;
  int64_t position = 0;
  if (queue_answer_.empty() && name == kQueueName) {
    count = static_cast<int64_t>(events_.size());
    position = std::clamp<int64_t>(reported_position_, 0, count);
  }
  return "{\"$c$\":\"queuezag\",\"name\":\"" + name + "\",\"count\":\"" + std::to_string(count) +
         "\",\"position\":\"" + std::to_string(position) + "\"}";
}

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

std::string MsgServer::TestexAnswer(const std::string& keepalive) {
  std::string reports;
  std::string queues = JsonGetValue(keepalive, "queue");
  for (std::string e = JsonNextElement(queues); !e.empty(); e = JsonNextElement(queues)) {
    if (JsonGetValue(e, "name") != kQueueName) continue;
    const std::string report = QueueReport(e);
    if (queue_answer_.empty()) reports = report;
    break;
  }
  if (!queue_answer_.empty()) reports = queue_answer_;
  if (reports.empty()) return "{\"$c$\":\"testex\"}";
  return "{\"$c$\":\"testex\",\"queue\":[" + reports + "]}";
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
