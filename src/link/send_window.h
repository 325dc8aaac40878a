#pragma once
// Reliable delivery of one outgoing message or file at a time: cut into 960-byte chunks, kept in
// a window of 192..250 slots, each chunk resent every Rto ms until acknowledged, and given up
// on its 21st due send. Pure: no socket, no clock; times are ticks passed in by the caller.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "util/bytes.h"

namespace ab {

struct SendSlot {
  Bytes Data;  // payload: 2 key bytes + up to 960 scrambled data bytes; empty when free
  uint32_t Offset = 0;
  uint32_t Number = 0;
  uint64_t Deadline = 0;  // ticks; 0 = due at once
  uint64_t SentAt = 0;    // ticks; 0 = never sent
  uint8_t Sends = 0;
  bool Used() const { return !Data.empty(); }
};

class SendWindow {
 public:
  static constexpr int32_t kMinWindow = 192;
  static constexpr int32_t kMaxWindow = 250;
  static constexpr int32_t kMaxSends = 20;
  static constexpr uint32_t kInitialRto = 4000;
  // Resends are never closer than this, whatever Rto says: an Rto of 0 (an answer within 1 ms)
  // would otherwise burn all 20 sends of a chunk before its acknowledgement can return.
  static constexpr uint32_t kMinResendMs = 50;

  explicit SendWindow(int64_t ticks_per_ms);

  // Transfer state.
  bool TransferActive = false;
  bool TransferIsFile = false;
  int64_t TransferNumber = 0;
  int64_t TransferSize = 0;
  int32_t TransferChunks = 0;
  int32_t NextChunk = 0;
  int32_t ChunkSequence = 0;
  std::string MessageBytes;

  // Timing.
  uint32_t Rto = kInitialRto;
  uint32_t LastSample = 0;
  uint32_t SampleSum = 0;
  uint32_t SampleCount = 0;
  uint64_t LastAdaptTime = 0;
  // Sends of chunks that had been sent before (a figure for benchmarks and diagnostics).
  uint64_t Resends = 0;

  int32_t WindowSize() const { return window_size_; }
  // Grows with free slots; a shrink never drops a slot that still holds a chunk (such slots
  // stay in flight beyond the window until acknowledged, then the tail is trimmed).
  void SetWindowSize(int32_t n);
  const std::vector<SendSlot>& Slots() const { return slots_; }

  static int32_t ChunksFor(int64_t size) { return static_cast<int32_t>((size - 1) / 960 + 1); }

  void StartMessage(std::string text, int64_t number);
  void StartFile(int64_t number, int64_t size);
  bool ChunksToPlace() const { return TransferActive && NextChunk < TransferChunks; }
  // Index of the first free slot inside the window, or -1.
  int32_t FreeSlot() const;
  // Places the next chunk (its data bytes, unscrambled) into the first free slot, keyed and
  // scrambled once. False when no slot is free or every chunk is placed.
  bool PlaceChunk(std::span<const uint8_t> data);
  // Message transfers: places chunks from MessageBytes into every free slot. Returns how many.
  int32_t FillMessage();

  using SendFn = std::function<void(const SendSlot&)>;
  // Sends every slot whose deadline has passed. False when a chunk fell due for its 21st send:
  // the caller gives up on the transfer.
  bool Resend(uint64_t now, const SendFn& send);
  // Takes one acknowledgement; true when it freed a slot.
  bool OnAck(int64_t number, int32_t chunk, uint64_t now);
  // At most once a second during a message transfer with chunks left to place.
  void Adapt(uint64_t now);
  // After a completed file transfer: adaptation clock restarts, only the small-sample rule.
  void AdaptAfterFile(uint64_t now);
  // Every chunk placed and every slot free.
  bool Complete() const;
  // Earliest deadline of a used slot (0 when none is used).
  uint64_t NextDeadline() const;
  // Ends the transfer, frees every slot, window back to 192.
  void Reset();
  // At each acceptance of a registration.
  void OnRegistered(uint32_t rto);

 private:
  void FreeAll();
  void TrimTail();

  int64_t ticks_per_ms_;
  int32_t window_size_ = kMinWindow;
  int32_t used_ = 0;
  // Lower bound of the used slots' deadlines, so an iteration with nothing due skips the scan.
  uint64_t next_due_ = UINT64_MAX;
  // No free slot inside the window lies below this index.
  int32_t free_hint_ = 0;
  std::vector<SendSlot> slots_;
};

}  // namespace ab
