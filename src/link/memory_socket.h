#pragma once
// Two connected in-memory datagram sockets for tests: what one end sends, the other receives,
// whatever the destination. Each end records the destination of what it sent, and a test can
// inject datagrams from any source or drop chosen ones.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "link/datagram_socket.h"
#include "util/bytes.h"

namespace ab {

struct MemoryDatagram {
  Endpoint From;
  Endpoint To;
  Bytes Data;
};

class MemorySocket final : public DatagramSocket {
 public:
  void SendTo(const Endpoint& to, std::span<const uint8_t> datagram) override;
  int32_t ReceiveFrom(std::span<uint8_t> buffer, Endpoint& from) override;
  void WaitReadable(std::chrono::nanoseconds timeout) override;
  void Wake() override;
  Endpoint LocalEndpoint() const override { return local_; }

  // Puts a datagram into this end's inbox as if sent from `from`.
  void Inject(const Endpoint& from, std::span<const uint8_t> datagram);
  // Takes the oldest datagram of this end's inbox with its destination; false when empty.
  bool Take(MemoryDatagram& out);
  size_t Pending();
  // Called for every datagram this end sends; true drops it (loss simulation).
  void SetDropFilter(std::function<bool(const MemoryDatagram&)> filter);

 private:
  friend std::pair<std::unique_ptr<MemorySocket>, std::unique_ptr<MemorySocket>>
      MakeMemorySocketPair(Endpoint, Endpoint);
  struct Shared;
  MemorySocket(std::shared_ptr<Shared> shared, int side, Endpoint local);

  std::shared_ptr<Shared> shared_;
  int side_;
  Endpoint local_;
};

std::pair<std::unique_ptr<MemorySocket>, std::unique_ptr<MemorySocket>> MakeMemorySocketPair(
    Endpoint a, Endpoint b);

}  // namespace ab
