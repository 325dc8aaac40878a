#include "link/send_window.h"

#include <algorithm>
#include <utility>

#include "link/datagram.h"
#include "util/func.h"

namespace ab {

SendWindow::SendWindow(int64_t ticks_per_ms) : ticks_per_ms_(ticks_per_ms) {
  slots_.resize(kMinWindow);
}

void SendWindow::SetWindowSize(int32_t n) {
  window_size_ = std::clamp(n, kMinWindow, kMaxWindow);
  if (static_cast<int32_t>(slots_.size()) < window_size_) {
    slots_.resize(static_cast<size_t>(window_size_));
  } else {
    TrimTail();
  }
}

void SendWindow::TrimTail() {
  while (static_cast<int32_t>(slots_.size()) > window_size_ && !slots_.back().Used()) {
    slots_.pop_back();
  }
}

void SendWindow::StartMessage(std::string text, int64_t number) {
  TransferActive = true;
  TransferIsFile = false;
  TransferSize = static_cast<int64_t>(text.size());
  TransferChunks = ChunksFor(TransferSize);
  TransferNumber = number;
  MessageBytes = std::move(text);
  NextChunk = 0;
  ChunkSequence = 0;
}

void SendWindow::StartFile(int64_t number, int64_t size) {
  TransferActive = true;
  TransferIsFile = true;
  TransferSize = size;
  TransferChunks = ChunksFor(size);
  TransferNumber = number;
  MessageBytes.clear();
  NextChunk = 0;
  ChunkSequence = 0;
}

int32_t SendWindow::FreeSlot() const {
  if (used_ >= static_cast<int32_t>(slots_.size())) return -1;
  for (int32_t i = free_hint_; i < window_size_ && i < static_cast<int32_t>(slots_.size()); ++i) {
    if (!slots_[static_cast<size_t>(i)].Used()) return i;
  }
  return -1;
}

bool SendWindow::PlaceChunk(std::span<const uint8_t> data) {
  if (!ChunksToPlace()) return false;
  const int32_t i = FreeSlot();
  if (i < 0) return false;
  SendSlot& s = slots_[static_cast<size_t>(i)];
  ++ChunkSequence;
  s.Number = static_cast<uint32_t>(ChunkSequence);
  s.Data.resize(data.size() + 2);
  std::copy(data.begin(), data.end(), s.Data.begin() + 2);
  SeedBytes(s.Data);
  Scramble(s.Data, kKeyTableLink);
  s.Offset = static_cast<uint32_t>(NextChunk) * kChunkData;
  s.Sends = 0;
  s.Deadline = 0;
  s.SentAt = 0;
  ++NextChunk;
  ++used_;
  free_hint_ = i + 1;
  next_due_ = 0;
  return true;
}

int32_t SendWindow::FillMessage() {
  int32_t placed = 0;
  while (ChunksToPlace() && FreeSlot() >= 0) {
    const size_t from = static_cast<size_t>(NextChunk) * kChunkData;
    const size_t n =
        std::min<size_t>(kChunkData, MessageBytes.size() - std::min(from, MessageBytes.size()));
    const auto* p = reinterpret_cast<const uint8_t*>(MessageBytes.data()) + from;
    if (!PlaceChunk(std::span<const uint8_t>(p, n))) break;
    ++placed;
  }
  return placed;
}

bool SendWindow::Resend(uint64_t now, const SendFn& send) {
  if (!TransferActive || now < next_due_) return true;
  const uint64_t interval =
      static_cast<uint64_t>(std::max(Rto, kMinResendMs)) * static_cast<uint64_t>(ticks_per_ms_);
  uint64_t next = UINT64_MAX;
  for (SendSlot& s : slots_) {
    if (!s.Used()) continue;
    if (now >= s.Deadline) {
      s.Deadline = now + interval;
      if (++s.Sends > kMaxSends) return false;
      if (s.Sends > 1) ++Resends;
      send(s);
      s.SentAt = now;
    }
    next = std::min(next, s.Deadline);
  }
  next_due_ = next;
  return true;
}

bool SendWindow::OnAck(int64_t number, int32_t chunk, uint64_t now) {
  if (!TransferActive || number != TransferNumber) return false;
  for (SendSlot& s : slots_) {
    if (!s.Used() || s.Number != static_cast<uint32_t>(chunk)) continue;
    if (s.SentAt != 0) {
      uint64_t ms = (now - s.SentAt) / static_cast<uint64_t>(ticks_per_ms_);
      if (ms < 1) ms = 1;
      LastSample = static_cast<uint32_t>(ms);
      SampleSum += LastSample;
      ++SampleCount;
    }
    s = SendSlot();
    --used_;
    free_hint_ = std::min(free_hint_, static_cast<int32_t>(&s - slots_.data()));
    TrimTail();
    return true;
  }
  return false;
}

void SendWindow::Adapt(uint64_t now) {
  if (!TransferActive || TransferIsFile || !ChunksToPlace()) return;
  if (now - LastAdaptTime <= 1000 * static_cast<uint64_t>(ticks_per_ms_)) return;
  LastAdaptTime = now;
  if (LastSample < 15 && window_size_ != kMinWindow) SetWindowSize(kMinWindow);
  if (SampleCount > 100) {
    Rto = std::max<uint32_t>(6 * (SampleSum / SampleCount), 50);
    SampleSum = 0;
    SampleCount = 0;
  }
  if (Rto >= 100 && Rto > static_cast<uint32_t>(window_size_)) {
    const int32_t w = static_cast<int32_t>(std::min<uint32_t>(Rto, kMaxWindow));
    if (window_size_ < w) SetWindowSize((window_size_ + w) / 2);
  }
}

void SendWindow::AdaptAfterFile(uint64_t now) {
  LastAdaptTime = now;
  if (LastSample < 15 && window_size_ != kMinWindow) SetWindowSize(kMinWindow);
}

bool SendWindow::Complete() const { return TransferActive && !ChunksToPlace() && used_ == 0; }

uint64_t SendWindow::NextDeadline() const {
  if (used_ == 0) return 0;
  return std::max<uint64_t>(next_due_, 1);
}

void SendWindow::FreeAll() {
  for (SendSlot& s : slots_) s = SendSlot();
  used_ = 0;
  next_due_ = UINT64_MAX;
  free_hint_ = 0;
}

void SendWindow::Reset() {
  TransferActive = false;
  TransferIsFile = false;
  MessageBytes.clear();
  FreeAll();
  SetWindowSize(kMinWindow);
}

void SendWindow::OnRegistered(uint32_t rto) {
  Rto = rto;
  SetWindowSize(kMinWindow);
}

}  // namespace ab
