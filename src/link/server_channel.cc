#include "link/server_channel.h"

namespace ab {

ServerChannel::ServerChannel(DatagramSocket* socket, uint16_t port, std::string_view list)
    : socket_(socket), port_(port) {
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    const std::string_view part = list.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    texts_.emplace_back(part);
    addresses_.push_back(ParseIpv4(part));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
}

void ServerChannel::SetAddressIndex(int32_t i) {
  const int32_t n = AddressCount();
  index_.store(n > 0 && i >= 0 ? i % n : 0);
}

void ServerChannel::Send(std::span<const uint8_t> datagram) {
  if (socket_ == nullptr) return;
  const auto& address = addresses_[static_cast<size_t>(index_.load())];
  if (!address) return;
  socket_->SendTo({*address, port_}, datagram);
  out_bytes_ += static_cast<int64_t>(datagram.size());
}

bool ServerChannel::FromServer(const Endpoint& from) const {
  for (const auto& a : addresses_) {
    if (a && *a == from.Address) return true;
  }
  return false;
}

}  // namespace ab
