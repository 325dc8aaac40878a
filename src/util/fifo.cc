#include "util/fifo.h"

#include <algorithm>
#include <utility>

namespace ab {
namespace {

// A deadline that cannot overflow the clock for very long timeouts.
std::chrono::steady_clock::time_point DeadlineAfter(std::chrono::nanoseconds timeout) {
  const auto now = std::chrono::steady_clock::now();
  if (timeout <= std::chrono::nanoseconds::zero()) return now;
  const auto room = std::chrono::steady_clock::time_point::max() - now;
  if (timeout >= room) return std::chrono::steady_clock::time_point::max();
  return now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
}

}  // namespace

void Wakeup::Notify() {
  {
    MutexLock lock(mutex_);
    signaled_ = true;
  }
  cv_.notify_all();
}

bool Wakeup::WaitFor(std::chrono::nanoseconds timeout) {
  const auto deadline = DeadlineAfter(timeout);
  MutexLock lock(mutex_);
  while (!signaled_) {
    if (cv_.wait_until(mutex_, deadline) == std::cv_status::timeout) break;
  }
  const bool was = signaled_;
  signaled_ = false;
  return was;
}

template <class T>
void FifoRing<T>::Resize(int32_t n) {
  if (n <= 0) {
    std::vector<T>().swap(items_);
    head_ = tail_ = 0;
    full_ = false;
    return;
  }
  // Relaying the elements from slot 0 keeps their order whatever the old indices were.
  std::vector<T> fresh(static_cast<size_t>(n));
  int32_t k = 0;
  while (!Empty() && k < n) {
    fresh[static_cast<size_t>(k++)] = std::move(Front());
    PopFront();
  }
  items_ = std::move(fresh);
  head_ = 0;
  tail_ = k % n;
  full_ = k == n;
}

template <class T>
int32_t FifoRing<T>::Size() const {
  const auto cap = static_cast<int32_t>(items_.size());
  if (full_) return cap;
  if (cap == 0) return 0;
  return (tail_ - head_ + cap) % cap;
}

template <class T>
bool FifoRing<T>::Push(T&& value) {
  if (items_.empty() || full_) return false;
  items_[static_cast<size_t>(tail_)] = std::move(value);
  if (++tail_ == static_cast<int32_t>(items_.size())) tail_ = 0;
  full_ = tail_ == head_;
  return true;
}

template <class T>
void FifoRing<T>::PopFront() {
  // swap, not assignment: an assigned empty string may keep its old buffer.
  T().swap(items_[static_cast<size_t>(head_)]);
  if (++head_ == static_cast<int32_t>(items_.size())) head_ = 0;
  full_ = false;
}

template class FifoRing<Bytes>;
template class FifoRing<std::string>;

// ---- OchFIFO

void OchFIFO::SetCapacity(int32_t n) {
  n = std::max<int32_t>(n, 0);
  MutexLock lock(mutex_);
  ring_.Resize(n);
  capacity_ = n;
}

bool OchFIFO::Push(const uint8_t* data, int32_t length) {
  if (length < 0 || (length > 0 && data == nullptr)) return false;
  // The copy is made before locking so producers hold the lock only to link it in.
  Bytes copy(data, data + length);
  {
    MutexLock lock(mutex_);
    if (!ring_.Push(std::move(copy))) return false;
  }
  cv_.notify_one();
  if (wakeup_ != nullptr) wakeup_->Notify();
  return true;
}

bool OchFIFO::NotEmpty() {
  MutexLock lock(mutex_);
  return !ring_.Empty();
}

bool OchFIFO::Peek(Bytes& out) {
  MutexLock lock(mutex_);
  if (ring_.Empty()) return false;
  out = ring_.Front();
  return !out.empty();
}

bool OchFIFO::Pop(Bytes& out) {
  MutexLock lock(mutex_);
  if (ring_.Empty()) return false;
  out = std::move(ring_.Front());
  ring_.PopFront();
  return !out.empty();
}

void OchFIFO::Drop() {
  MutexLock lock(mutex_);
  // Removing from an empty ring would turn it "full" of cleared slots.
  if (!ring_.Empty()) ring_.PopFront();
}

int32_t OchFIFO::Size() {
  MutexLock lock(mutex_);
  return ring_.Size();
}

bool OchFIFO::WaitNotEmpty(std::chrono::nanoseconds timeout) {
  const auto deadline = DeadlineAfter(timeout);
  MutexLock lock(mutex_);
  while (ring_.Empty()) {
    if (cv_.wait_until(mutex_, deadline) == std::cv_status::timeout) break;
  }
  return !ring_.Empty();
}

// ---- OchFIFOJSON

void OchFIFOJSON::SetCapacity(int32_t n) {
  n = std::max<int32_t>(n, 0);
  MutexLock lock(mutex_);
  ring_.Resize(n);
  capacity_ = n;
}

bool OchFIFOJSON::Push(std::string_view text) {
  if (text.empty()) return false;
  std::string copy(text);
  {
    MutexLock lock(mutex_);
    if (!ring_.Push(std::move(copy))) return false;
  }
  cv_.notify_one();
  if (wakeup_ != nullptr) wakeup_->Notify();
  return true;
}

bool OchFIFOJSON::NotEmpty() {
  MutexLock lock(mutex_);
  return !ring_.Empty();
}

bool OchFIFOJSON::Peek(std::string& out) {
  MutexLock lock(mutex_);
  if (ring_.Empty()) return false;
  out = ring_.Front();
  return true;
}

bool OchFIFOJSON::Pop(std::string& out) {
  MutexLock lock(mutex_);
  if (ring_.Empty()) return false;
  out = std::move(ring_.Front());
  ring_.PopFront();
  return true;
}

void OchFIFOJSON::Drop() {
  MutexLock lock(mutex_);
  if (!ring_.Empty()) ring_.PopFront();
}

int32_t OchFIFOJSON::Size() {
  MutexLock lock(mutex_);
  return ring_.Size();
}

bool OchFIFOJSON::WaitNotEmpty(std::chrono::nanoseconds timeout) {
  const auto deadline = DeadlineAfter(timeout);
  MutexLock lock(mutex_);
  while (ring_.Empty()) {
    if (cv_.wait_until(mutex_, deadline) == std::cv_status::timeout) break;
  }
  return !ring_.Empty();
}

}  // namespace ab
