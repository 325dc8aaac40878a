#pragma once
// Where the link's datagrams go and come from: the configured server addresses, the one in use,
// and the port. Shared by the protocol and the receive thread; the address list never changes
// after construction.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/datagram_socket.h"

namespace ab {

class ServerChannel {
 public:
  // Splits the list at every ","; entries that are not dotted IPv4 texts are kept (they take a
  // turn in the rotation) but nothing is sent there and nothing is taken from them.
  ServerChannel(DatagramSocket* socket, uint16_t port, std::string_view address_list);

  // Sends to the current server address; adds the byte count to the out-bytes sum.
  void Send(std::span<const uint8_t> datagram);
  // True when the datagram's source is one of the configured addresses (any port).
  bool FromServer(const Endpoint& from) const;

  int32_t AddressIndex() const { return index_.load(); }
  void SetAddressIndex(int32_t i);
  void NextAddress() { SetAddressIndex(index_.load() + 1); }
  int32_t AddressCount() const { return static_cast<int32_t>(texts_.size()); }
  const std::string& AddressText(int32_t i) const { return texts_[static_cast<size_t>(i)]; }
  uint16_t Port() const { return port_; }
  DatagramSocket* Socket() const { return socket_; }

  // Bytes passed to the socket since the last call.
  int64_t TakeOutBytes() { return out_bytes_.exchange(0); }

 private:
  DatagramSocket* socket_;
  uint16_t port_;
  std::vector<std::string> texts_;
  std::vector<std::optional<uint32_t>> addresses_;
  std::atomic<int32_t> index_{0};
  std::atomic<int64_t> out_bytes_{0};
};

}  // namespace ab
