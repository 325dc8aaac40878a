#pragma once
// Reassembly of one multi-chunk text or record message from chunks that may arrive in any
// order and more than once. Every field comes from the network and is checked before use.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "link/completion_map.h"
#include "link/datagram.h"
#include "util/bytes.h"

namespace ab {

class Reassembly {
 public:
  enum class Result {
    kPartial,   // stored (or a repeat of a stored chunk); more to come
    kComplete,  // this chunk completed the message: read Data(), then Clear()
    kRejected,  // the chunk does not fit any message; nothing stored
  };

  // Adds one chunk; data is the chunk's payload after its key bytes. A chunk of another message
  // than the one under way (number, size or count differ) abandons that one and starts anew,
  // so a stale reassembly left by a reset never mixes with a new message. Rejected: a size
  // above max_size or below 1, a count outside 1..size, a chunk number outside 1..count, or
  // data that is empty or would end beyond the size.
  Result Add(const DatagramHeader& header, std::span<const uint8_t> data,
             int32_t max_size = kMaxMessageSize);

  bool Active() const { return active_; }
  int64_t MessageNumber() const { return number_; }
  // Size of the buffer under way (0 when none).
  int32_t BufferSize() const { return active_ ? size_ : 0; }
  // The message bytes; valid until the next Add or Clear.
  std::span<const uint8_t> Data() const { return {buffer_.get(), static_cast<size_t>(size_)}; }
  void Clear();

 private:
  bool active_ = false;
  int64_t number_ = 0;
  int32_t chunk_count_ = 0;
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  // calloc: zeroed pages come from the system untouched, so a large message costs no up-front
  // fill; its pages are touched as its chunks arrive.
  std::unique_ptr<uint8_t, Free> buffer_;
  int32_t size_ = 0;
  CompletionMap map_;
};

}  // namespace ab
