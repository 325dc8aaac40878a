#include "util/backsoob.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "util/bytes.h"

namespace ab {
namespace {

constexpr uint8_t kFF = 0xFF;
constexpr uint8_t kFE = 0xFE;
constexpr size_t kIndexSize = 16;
constexpr size_t kLengthSize = 4;
constexpr size_t kMarkerSize = 2;

// Opens an existing file for reading and writing. A file held by another process is waited
// for a bounded number of times; one that does not exist is not.
bool OpenShared(const std::filesystem::path& path, std::fstream& file, int32_t retries,
                std::chrono::milliseconds pause) {
  for (int32_t attempt = 0;; ++attempt) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return false;
    file.open(path, std::ios::in | std::ios::out | std::ios::binary);
    if (file.is_open()) return true;
    file.clear();
    if (attempt >= retries) return false;
    std::this_thread::sleep_for(pause);
  }
}

std::optional<Bytes> ReadAll(std::fstream& file) {
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  if (size < 0) return std::nullopt;
  Bytes data(static_cast<size_t>(size));
  file.seekg(0);
  if (!data.empty() && !file.read(reinterpret_cast<char*>(data.data()), size)) {
    return std::nullopt;
  }
  return data;
}

bool WriteI32At(std::fstream& file, std::streamoff offset, int32_t value) {
  uint8_t raw[4];
  PutI32(raw, value);
  file.clear();
  file.seekp(offset);
  file.write(reinterpret_cast<const char*>(raw), sizeof raw);
  file.flush();
  return static_cast<bool>(file);
}

void CreateIndex(const std::filesystem::path& path) {
  uint8_t raw[kIndexSize] = {};
  PutI32(raw, TBackSoobString::kSignature);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(raw), sizeof raw);
  file.close();
  if (!file) {
    throw std::filesystem::filesystem_error("cannot create the outbox index", path,
                                            std::make_error_code(std::errc::io_error));
  }
}

bool IsPair(std::span<const uint8_t> d, size_t k) {
  return k + 1 < d.size() && d[k] == kFF && d[k + 1] == kFF;
}

// End of a sound record whose start marker is at k: length within the file and the end
// marker right after the message.
std::optional<size_t> SoundRecordEnd(std::span<const uint8_t> d, size_t k) {
  const size_t body = k + kMarkerSize + kLengthSize;
  if (!IsPair(d, k) || body > d.size()) return std::nullopt;
  const int32_t length = GetI32(&d[k + kMarkerSize]);
  if (length < 0 || static_cast<size_t>(length) > d.size() - body) return std::nullopt;
  const size_t marker = body + static_cast<size_t>(length);
  if (d.size() - marker < kMarkerSize || d[marker] != kFE || d[marker + 1] != kFF) {
    return std::nullopt;
  }
  return marker + kMarkerSize;
}

// The oldest record of a data file, found by the same rules for reading and for removal so
// that both always mean the same record.
struct Head {
  bool sound = false;
  size_t message = 0;  // offset and length of the message of a sound record
  size_t length = 0;
  size_t consumed = 0;  // bytes from offset 0 that removing the record takes away
};

// The first start marker of the file, chosen between a pair and the one overlapping it: after
// FE the pair is more likely the tail of an end marker (FE FF FF FF), so the later pair is
// preferred there, the earlier one elsewhere; a sound candidate beats a damaged one.
Head LocateHead(std::span<const uint8_t> d) {
  Head head;
  size_t first = 0;
  while (first < d.size() && !IsPair(d, first)) ++first;
  if (first >= d.size()) {
    // No start marker at all: nothing to send, and removal empties the file.
    head.consumed = d.size();
    return head;
  }
  size_t candidates[2] = {first, first};
  size_t count = 1;
  if (IsPair(d, first + 1)) {
    const bool after_end_marker = first > 0 && d[first - 1] == kFE;
    candidates[0] = after_end_marker ? first + 1 : first;
    candidates[1] = after_end_marker ? first : first + 1;
    count = 2;
  }
  for (size_t i = 0; i < count; ++i) {
    if (const auto end = SoundRecordEnd(d, candidates[i])) {
      head.sound = true;
      head.message = candidates[i] + kMarkerSize + kLengthSize;
      head.length = *end - kMarkerSize - head.message;
      head.consumed = *end;
      return head;
    }
  }
  // A damaged record (length past the end, end marker missing): removing it takes everything
  // up to the next sound record, so a message that follows is not lost with it.
  head.consumed = d.size();
  for (size_t k = candidates[0] + 1; k < d.size(); ++k) {
    if (SoundRecordEnd(d, k)) {
      head.consumed = k;
      break;
    }
  }
  return head;
}

// N of a name "bs<N>.dat" written the way the store writes it, or nothing.
std::optional<int32_t> DataFileNumber(const std::string& name) {
  if (name.size() < 7 || !name.starts_with("bs") || !name.ends_with(".dat")) return std::nullopt;
  const char* first = name.data() + 2;
  const char* last = name.data() + name.size() - 4;
  int32_t n = 0;
  const auto [ptr, ec] = std::from_chars(first, last, n);
  if (ec != std::errc() || ptr != last || n < 0 || name != "bs" + std::to_string(n) + ".dat") {
    return std::nullopt;
  }
  return n;
}

}  // namespace

TBackSoobString::TBackSoobString(std::filesystem::path base_dir) : base_dir_(std::move(base_dir)) {}

void TBackSoobString::SetOpenRetries(int32_t retries, std::chrono::milliseconds pause) {
  MutexLock lock(mutex_);
  open_retries_ = std::max<int32_t>(retries, 0);
  open_pause_ = std::max(pause, std::chrono::milliseconds::zero());
}

int32_t TBackSoobString::Pending() const {
  MutexLock lock(mutex_);
  return pending_;
}

int32_t TBackSoobString::ReadIndex() const {
  MutexLock lock(mutex_);
  return read_index_;
}

int32_t TBackSoobString::WriteIndex() const {
  MutexLock lock(mutex_);
  return write_index_;
}

std::filesystem::path TBackSoobString::DataPath(int32_t n) const {
  return dir_ / ("bs" + std::to_string(n) + ".dat");
}

void TBackSoobString::Load() {
  MutexLock lock(mutex_);
  read_index_ = 0;
  write_index_ = 0;
  if (SubDir.empty()) return;
  dir_ = base_dir_ / SubDir;
  std::filesystem::create_directories(dir_);
  index_path_ = dir_ / "backsoob.dat";

  std::error_code ec;
  if (!std::filesystem::exists(index_path_, ec)) {
    pending_ = 0;
    CreateIndex(index_path_);
    return;
  }
  std::fstream file;
  // Held by someone else for the whole wait: left alone, with nothing to send.
  if (!OpenShared(index_path_, file, open_retries_, open_pause_)) return;
  const auto raw = ReadAll(file);
  file.close();
  if (raw && raw->size() >= kIndexSize && GetI32(raw->data()) == kSignature) {
    const int32_t pending = GetI32(raw->data() + 4);
    const int32_t read = GetI32(raw->data() + 8);
    const int32_t write = GetI32(raw->data() + 12);
    // Counters that no sound store has are treated like a wrong signature: trusting them
    // would send the reader to files that cannot be there.
    if (pending >= 0 && read >= 0 && read <= write) {
      pending_ = pending;
      read_index_ = read;
      write_index_ = write;
      return;
    }
  }
  std::filesystem::remove(index_path_, ec);
  pending_ = 0;
  CreateIndex(index_path_);
}

// A current file that is empty or gone while later files exist is spent: move on to the next
// rather than lose the later files with a reset.
void TBackSoobString::SkipSpentFiles() {
  while (read_index_ < write_index_) {
    const auto path = DataPath(read_index_);
    std::error_code ec;
    const bool exists = std::filesystem::exists(path, ec);
    if (exists && std::filesystem::file_size(path, ec) != 0) return;
    if (ec) return;
    std::fstream index;
    if (!OpenShared(index_path_, index, open_retries_, open_pause_)) return;
    if (!WriteI32At(index, 8, read_index_ + 1)) return;
    index.close();
    ++read_index_;
    std::filesystem::remove(path, ec);
  }
}

bool TBackSoobString::ReadCurrent(std::string& out) {
  MutexLock lock(mutex_);
  out.clear();
  if (dir_.empty()) return false;
  SkipSpentFiles();
  std::fstream file;
  if (!OpenShared(DataPath(read_index_), file, open_retries_, open_pause_)) return false;
  const auto data = ReadAll(file);
  file.close();
  if (!data) return false;
  if (data->empty()) {
    try {
      ResetLocked();
    } catch (const std::exception&) {
      // The index stays as it is; the next pass tries again.
    }
    return false;
  }
  const Head head = LocateHead(*data);
  if (!head.sound) return false;
  out.assign(reinterpret_cast<const char*>(data->data() + head.message), head.length);
  return true;
}

void TBackSoobString::RemoveCurrent() {
  MutexLock lock(mutex_);
  if (pending_ <= 0 || dir_.empty()) return;
  --pending_;
  SkipSpentFiles();
  const auto data_path = DataPath(read_index_);
  std::fstream data_file;
  std::fstream index;
  if (!OpenShared(data_path, data_file, open_retries_, open_pause_)) return;
  if (!OpenShared(index_path_, index, open_retries_, open_pause_)) return;
  WriteI32At(index, 4, pending_);

  const auto data = ReadAll(data_file);
  if (!data) return;
  const Head head = LocateHead(*data);
  const size_t keep = data->size() - head.consumed;
  if (head.consumed > 0) {
    data_file.clear();
    data_file.seekp(0);
    data_file.write(reinterpret_cast<const char*>(data->data() + head.consumed),
                    static_cast<std::streamsize>(keep));
    data_file.close();
    std::error_code ec;
    std::filesystem::resize_file(data_path, keep, ec);
  }
  data_file.close();
  if (keep == 0 && read_index_ != write_index_) {
    ++read_index_;
    WriteI32At(index, 8, read_index_);
    index.close();
    std::error_code ec;
    std::filesystem::remove(data_path, ec);
  }
}

void TBackSoobString::Reset() {
  MutexLock lock(mutex_);
  if (dir_.empty()) return;
  ResetLocked();
}

void TBackSoobString::ResetLocked() {
  // Listing the folder, not counting up from ReadIndex, keeps a huge WriteIndex from turning
  // this into billions of deletions of files that are not there.
  std::vector<std::filesystem::path> doomed;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir_, ec), end; !ec && it != end; it.increment(ec)) {
    const auto n = DataFileNumber(it->path().filename().string());
    if (n && *n >= read_index_ && *n <= write_index_) doomed.push_back(it->path());
  }
  for (const auto& path : doomed) std::filesystem::remove(path, ec);

  pending_ = 0;
  read_index_ = 0;
  write_index_ = 0;
  std::fstream index(index_path_, std::ios::in | std::ios::out | std::ios::binary);
  if (!index.is_open() || !WriteI32At(index, 4, 0) || !WriteI32At(index, 8, 0) ||
      !WriteI32At(index, 12, 0)) {
    throw std::filesystem::filesystem_error("cannot write the outbox index", index_path_,
                                            std::make_error_code(std::errc::io_error));
  }
}

}  // namespace ab
