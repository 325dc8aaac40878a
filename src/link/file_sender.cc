#include "link/file_sender.h"

#include <algorithm>
#include <system_error>

#include "link/client_udp.h"
#include "link/safe_names.h"
#include "link/sync_texts.h"
#include "util/json.h"

namespace ab {

FileSender::FileSender(client_udp& link) : link_(link) {}

uint64_t FileSender::OfferInterval() const {
  // Same floor as chunk resends: an Rto of 0 would offer on every iteration.
  const uint32_t ms = std::max(link_.Window.Rto, SendWindow::kMinResendMs);
  return static_cast<uint64_t>(ms) * kTicksPerMs;
}

void FileSender::Offer(uint64_t now) {
  offer_due_ = now + OfferInterval();
  link_.SendCommand(BuildFileOffer(name_, name_in_server_, link_.Tid));
}

bool FileSender::Start(uint64_t now) {
  std::string head;
  if (!link_.FileQueue.Peek(head)) return false;
  const std::string name = JsonGetValue(head, "name");
  const auto local = LocalPathInside(link_.BaseDir(), name);
  std::error_code ec;
  if (!local) {
    link_.Log.Queue.Push("file to send refused: " + name);
    link_.FileQueue.Drop();
    return false;
  }
  if (!std::filesystem::is_regular_file(*local, ec)) {
    link_.FileQueue.Drop();
    return false;
  }
  name_ = name;
  name_in_server_ = JsonGetValue(head, "nameinserv");
  local_ = local->string();
  active_ = true;
  size_ = 0;
  SendWindow& w = link_.Window;
  w.TransferActive = true;
  w.TransferIsFile = true;
  w.TransferSize = 0;
  w.TransferChunks = 0;
  w.NextChunk = 0;
  w.ChunkSequence = 0;
  Offer(now);
  return true;
}

void FileSender::Fill(uint64_t now) {
  if (!active_) return;
  if (!file_.is_open()) {
    if (now >= offer_due_) Offer(now);
    return;
  }
  SendWindow& w = link_.Window;
  if (!w.ChunksToPlace() || w.FreeSlot() < 0) return;
  const int64_t from = static_cast<int64_t>(w.NextChunk) * kChunkData;
  const int64_t n = std::clamp<int64_t>(size_ - from, 0, kChunkData);
  chunk_.resize(static_cast<size_t>(n));
  file_.clear();
  file_.seekg(from);
  file_.read(chunk_.data(), n);
  // A file that shrank since it was opened sends what is left.
  chunk_.resize(static_cast<size_t>(std::max<std::streamsize>(file_.gcount(), 0)));
  w.PlaceChunk(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(chunk_.data()), chunk_.size()));
}

void FileSender::Accepted() {
  if (!Offering() || !link_.Window.TransferActive || !link_.Window.TransferIsFile) return;
  std::error_code ec;
  const auto size = std::filesystem::file_size(local_, ec);
  if (ec) return;  // the offers go on
  file_.open(local_, std::ios::binary);
  if (!file_.is_open()) return;
  size_ = static_cast<int64_t>(size);
  ++link_.MessageCounter;
  link_.Window.StartFile(link_.MessageCounter, size_);
}

void FileSender::OnSent() {
  if (!active_) return;
  link_.EventQueue.Push(BuildSendFileOkNotice(name_, name_in_server_, size_));
  link_.FileQueue.Drop();
  file_.close();
  active_ = false;
}

void FileSender::OnReset() {
  file_.close();
  active_ = false;
}

}  // namespace ab
