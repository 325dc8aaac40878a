#pragma once
// Bounded ring buffers through which threads hand work to each other. Each queue has one lock,
// held for one operation only and never while taking another lock. Many producers, exactly one
// consumer per queue; the consumer can sleep until an element arrives (WaitNotEmpty), and a
// shared Wakeup lets one thread sleep on several queues and a socket at once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytes.h"
#include "util/thread_annotations.h"

namespace ab {

// A sticky wake-up signal: Notify() makes the next (or the current) wait return at once.
class Wakeup {
 public:
  void Notify();
  // Waits until notified or the timeout passes; returns true when notified. Clears the signal.
  bool WaitFor(std::chrono::nanoseconds timeout);

 private:
  Mutex mutex_;
  std::condition_variable_any cv_;
  bool signaled_ AB_GUARDED_BY(mutex_) = false;
};

// The slots and indices shared by both queues; not locked itself.
template <class T>
class FifoRing {
 public:
  // Keeps the oldest elements that fit, in order, starting again at slot 0; 0 (or less) empties.
  void Resize(int32_t n);
  bool Empty() const { return head_ == tail_ && !full_; }
  int32_t Size() const;
  // False when full or of capacity 0.
  bool Push(T&& value);
  // Only on a non-empty ring.
  T& Front() { return items_[static_cast<size_t>(head_)]; }
  // Clears the head slot at once so no reference to handed-out data stays behind.
  void PopFront();

 private:
  std::vector<T> items_;
  int32_t head_ = 0;
  int32_t tail_ = 0;
  bool full_ = false;
};

extern template class FifoRing<Bytes>;
extern template class FifoRing<std::string>;

// Queue of byte arrays.
class OchFIFO {
 public:
  OchFIFO() = default;
  OchFIFO(const OchFIFO&) = delete;
  OchFIFO& operator=(const OchFIFO&) = delete;

  // Sets the slot count; n = 0 also resets the indices. Meant for a queue no other thread uses;
  // elements already queued keep their order (those beyond a smaller n are dropped).
  void SetCapacity(int32_t n);
  int32_t Capacity() const { return capacity_; }

  // Appends a copy; false when full or of capacity 0, and for a negative length or a null
  // pointer with a length. A zero-length element is accepted.
  bool Push(const uint8_t* data, int32_t length);
  bool Push(std::span<const uint8_t> data) {
    return Push(data.data(), static_cast<int32_t>(data.size()));
  }
  bool NotEmpty();
  // Copies the oldest element out; true only when it has at least one byte (a zero-length
  // element empties out and gives false). Empty queue: false, out unchanged.
  bool Peek(Bytes& out);
  // As Peek, and removes the element (also a zero-length one).
  bool Pop(Bytes& out);
  // Removes the oldest element. Meant for right after a successful Peek; on an empty queue it
  // does nothing rather than corrupt the indices.
  void Drop();
  // Number of queued elements.
  int32_t Size();

  // Consumer only: waits until the queue holds an element or the timeout passes.
  bool WaitNotEmpty(std::chrono::nanoseconds timeout);
  // Every successful Push also notifies this (may be null). Set before producers start.
  void SetWakeup(Wakeup* wakeup) { wakeup_ = wakeup; }

 private:
  Mutex mutex_;
  std::condition_variable_any cv_;
  FifoRing<Bytes> ring_ AB_GUARDED_BY(mutex_);
  int32_t capacity_ = 0;
  Wakeup* wakeup_ = nullptr;
};

// Queue of texts (JSON commands, notices, log lines).
class OchFIFOJSON {
 public:
  OchFIFOJSON() = default;
  OchFIFOJSON(const OchFIFOJSON&) = delete;
  OchFIFOJSON& operator=(const OchFIFOJSON&) = delete;

  // Sets the slot count. Meant for a queue no other thread uses; elements already queued keep
  // their order (those beyond a smaller n are dropped).
  void SetCapacity(int32_t n);
  int32_t Capacity() const { return capacity_; }

  // Appends a copy; false for an empty text (before locking), when full or of capacity 0.
  bool Push(std::string_view text);
  bool NotEmpty();
  // True whenever an element was there. Empty queue: false, out unchanged.
  bool Peek(std::string& out);
  bool Pop(std::string& out);
  // Removes the oldest element; nothing on an empty queue.
  void Drop();
  int32_t Size();

  bool WaitNotEmpty(std::chrono::nanoseconds timeout);
  void SetWakeup(Wakeup* wakeup) { wakeup_ = wakeup; }

 private:
  Mutex mutex_;
  std::condition_variable_any cv_;
  FifoRing<std::string> ring_ AB_GUARDED_BY(mutex_);
  int32_t capacity_ = 0;
  Wakeup* wakeup_ = nullptr;
};

}  // namespace ab
