#pragma once
// Which chunks of a message have arrived: bit q of the map stands for chunk q (1-based), eight
// to a byte, least significant bit first. The unused bits of the last byte start set, so the
// message is complete when every byte is 0xFF.

#include <cstdint>

#include "util/bytes.h"

namespace ab {

class CompletionMap {
 public:
  CompletionMap() = default;
  // A fresh map for chunk_count chunks (at least 1).
  explicit CompletionMap(int32_t chunk_count);

  int32_t ChunkCount() const { return chunk_count_; }
  // False, and nothing changes, for a chunk outside 1..ChunkCount.
  bool Set(int32_t chunk);
  bool Has(int32_t chunk) const;
  bool Complete() const;
  const Bytes& Map() const { return map_; }

 private:
  int32_t chunk_count_ = 0;
  int32_t missing_ = 0;
  Bytes map_;
};

}  // namespace ab
