#include "link/completion_map.h"

namespace ab {

CompletionMap::CompletionMap(int32_t chunk_count)
    : chunk_count_(chunk_count < 1 ? 1 : chunk_count), missing_(chunk_count_) {
  const int32_t bytes = (chunk_count_ - 1) / 8 + 1;
  map_.assign(static_cast<size_t>(bytes), 0);
  const int32_t used_in_last = chunk_count_ - 8 * ((chunk_count_ - 1) / 8);
  for (int bit = used_in_last; bit < 8; ++bit) map_.back() |= static_cast<uint8_t>(1u << bit);
}

bool CompletionMap::Set(int32_t chunk) {
  if (chunk < 1 || chunk > chunk_count_) return false;
  uint8_t& b = map_[static_cast<size_t>((chunk - 1) / 8)];
  const uint8_t mask = static_cast<uint8_t>(1u << ((chunk - 1) % 8));
  if ((b & mask) == 0) {
    b |= mask;
    --missing_;
  }
  return true;
}

bool CompletionMap::Has(int32_t chunk) const {
  if (chunk < 1 || chunk > chunk_count_) return false;
  return (map_[static_cast<size_t>((chunk - 1) / 8)] & (1u << ((chunk - 1) % 8))) != 0;
}

bool CompletionMap::Complete() const { return chunk_count_ > 0 && missing_ == 0; }

}  // namespace ab
