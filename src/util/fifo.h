#pragma once
// Bounded ring buffers through which threads hand work to each other. Each queue has one lock,
// held for one operation only and never while taking another lock. Many producers, exactly one
// consumer per queue; the consumer can sleep until an element arrives (WaitNotEmpty), and a
// shared Wakeup lets one thread sleep on several queues and a socket at once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytes.h"

namespace ab {

// A sticky wake-up signal: Notify() makes the next (or the current) wait return at once.
class Wakeup {
 public:
  void Notify();
  // Waits until notified or the timeout passes; returns true when notified. Clears the signal.
  bool WaitFor(std::chrono::nanoseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signaled_ = false;
};

// Queue of byte arrays.
class OchFIFO {
 public:
  OchFIFO() = default;
  OchFIFO(const OchFIFO&) = delete;
  OchFIFO& operator=(const OchFIFO&) = delete;

  // Sets the slot count; n = 0 also resets the indices. Call only while no other thread uses
  // the queue.
  void SetCapacity(int32_t n);
  int32_t Capacity() const { return capacity_; }

  // Appends a copy; false when full or of capacity 0. A zero-length element is accepted.
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
  // Removes the oldest element. Only after a successful Peek (no emptiness test).
  void Drop();
  // Number of queued elements.
  int32_t Size();

  // Consumer only: waits until the queue holds an element or the timeout passes.
  bool WaitNotEmpty(std::chrono::nanoseconds timeout);
  // Every successful Push also notifies this (may be null). Set before producers start.
  void SetWakeup(Wakeup* wakeup) { wakeup_ = wakeup; }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Bytes> items_;
  int32_t head_ = 0;
  int32_t tail_ = 0;
  bool full_ = false;
  int32_t capacity_ = 0;
  Wakeup* wakeup_ = nullptr;
};

// Queue of texts (JSON commands, notices, log lines).
class OchFIFOJSON {
 public:
  OchFIFOJSON() = default;
  OchFIFOJSON(const OchFIFOJSON&) = delete;
  OchFIFOJSON& operator=(const OchFIFOJSON&) = delete;

  // Sets the slot count (indices are kept). Call only while no other thread uses the queue.
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
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> items_;
  int32_t head_ = 0;
  int32_t tail_ = 0;
  bool full_ = false;
  int32_t capacity_ = 0;
  Wakeup* wakeup_ = nullptr;
};

}  // namespace ab
