#include "link/reassembly.h"

#include <algorithm>
#include <utility>

namespace ab {

Reassembly::Result Reassembly::Add(const DatagramHeader& h, std::span<const uint8_t> data,
                                   int32_t max_size) {
  if (h.TotalSize < 1 || h.TotalSize > max_size) return Result::kRejected;
  if (h.ChunkCount < 1 || h.ChunkCount > h.TotalSize) return Result::kRejected;
  if (h.ChunkNumber < 1 || h.ChunkNumber > h.ChunkCount) return Result::kRejected;
  if (data.empty() || h.ChunkOffset < 0 ||
      static_cast<int64_t>(h.ChunkOffset) + static_cast<int64_t>(data.size()) > h.TotalSize) {
    return Result::kRejected;
  }
  if (!active_ || number_ != h.MessageNumber || chunk_count_ != h.ChunkCount ||
      size_ != h.TotalSize) {
    active_ = true;
    number_ = h.MessageNumber;
    chunk_count_ = h.ChunkCount;
    buffer_.reset(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(h.TotalSize), 1)));
    if (!buffer_) {
      Clear();
      return Result::kRejected;
    }
    size_ = h.TotalSize;
    map_ = CompletionMap(h.ChunkCount);
  }
  std::copy(data.begin(), data.end(), buffer_.get() + h.ChunkOffset);
  map_.Set(h.ChunkNumber);
  return map_.Complete() ? Result::kComplete : Result::kPartial;
}

void Reassembly::Clear() {
  active_ = false;
  number_ = 0;
  chunk_count_ = 0;
  buffer_.reset();
  size_ = 0;
  map_ = CompletionMap();
}

}  // namespace ab
