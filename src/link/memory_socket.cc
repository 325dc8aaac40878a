#include "link/memory_socket.h"

#include <algorithm>

namespace ab {

struct MemorySocket::Shared {
  std::mutex mutex;
  std::condition_variable cv[2];
  std::deque<MemoryDatagram> inbox[2];
  bool woken[2] = {false, false};
  std::function<bool(const MemoryDatagram&)> drop[2];
};

MemorySocket::MemorySocket(std::shared_ptr<Shared> shared, int side, Endpoint local)
    : shared_(std::move(shared)), side_(side), local_(local) {}

std::pair<std::unique_ptr<MemorySocket>, std::unique_ptr<MemorySocket>> MakeMemorySocketPair(
    Endpoint a, Endpoint b) {
  auto shared = std::make_shared<MemorySocket::Shared>();
  return {std::unique_ptr<MemorySocket>(new MemorySocket(shared, 0, a)),
          std::unique_ptr<MemorySocket>(new MemorySocket(shared, 1, b))};
}

void MemorySocket::SendTo(const Endpoint& to, std::span<const uint8_t> datagram) {
  MemoryDatagram d{local_, to, Bytes(datagram.begin(), datagram.end())};
  std::lock_guard lock(shared_->mutex);
  if (shared_->drop[side_] && shared_->drop[side_](d)) return;
  const int peer = 1 - side_;
  shared_->inbox[peer].push_back(std::move(d));
  shared_->cv[peer].notify_all();
}

void MemorySocket::Inject(const Endpoint& from, std::span<const uint8_t> datagram) {
  std::lock_guard lock(shared_->mutex);
  shared_->inbox[side_].push_back({from, local_, Bytes(datagram.begin(), datagram.end())});
  shared_->cv[side_].notify_all();
}

int32_t MemorySocket::ReceiveFrom(std::span<uint8_t> buffer, Endpoint& from) {
  std::lock_guard lock(shared_->mutex);
  auto& q = shared_->inbox[side_];
  if (q.empty()) return -1;
  const MemoryDatagram& d = q.front();
  const size_t n = std::min(buffer.size(), d.Data.size());
  std::copy_n(d.Data.begin(), n, buffer.begin());
  from = d.From;
  q.pop_front();
  return static_cast<int32_t>(n);
}

bool MemorySocket::Take(MemoryDatagram& out) {
  std::lock_guard lock(shared_->mutex);
  auto& q = shared_->inbox[side_];
  if (q.empty()) return false;
  out = std::move(q.front());
  q.pop_front();
  return true;
}

size_t MemorySocket::Pending() {
  std::lock_guard lock(shared_->mutex);
  return shared_->inbox[side_].size();
}

void MemorySocket::WaitReadable(std::chrono::nanoseconds timeout) {
  std::unique_lock lock(shared_->mutex);
  shared_->cv[side_].wait_for(
      lock, timeout, [&] { return !shared_->inbox[side_].empty() || shared_->woken[side_]; });
  shared_->woken[side_] = false;
}

void MemorySocket::Wake() {
  std::lock_guard lock(shared_->mutex);
  shared_->woken[side_] = true;
  shared_->cv[side_].notify_all();
}

void MemorySocket::SetDropFilter(std::function<bool(const MemoryDatagram&)> filter) {
  std::lock_guard lock(shared_->mutex);
  shared_->drop[side_] = std::move(filter);
}

}  // namespace ab
