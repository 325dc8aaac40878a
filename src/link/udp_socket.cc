#include "link/udp_socket.h"

#include <poll.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

namespace ab {

namespace asio = boost::asio;
using asio::ip::udp;

std::optional<uint32_t> ParseIpv4(std::string_view text) {
  uint32_t value = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    uint32_t part = 0;
    size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      part = part * 10 + static_cast<uint32_t>(text[i] - '0');
      if (++digits > 3 || part > 255) return std::nullopt;
      ++i;
    }
    value = (value << 8) | part;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return value;
}

std::string FormatIpv4(uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
         std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

namespace {

class UdpSocket final : public DatagramSocket {
 public:
  UdpSocket() : socket_(io_) {}

  bool Open(std::string_view bind_address, uint16_t port) {
    boost::system::error_code ec;
    auto addr = ParseIpv4(bind_address);
    if (!addr) return false;
    socket_.open(udp::v4(), ec);
    if (ec) return false;
    socket_.bind(udp::endpoint(asio::ip::address_v4(*addr), port), ec);
    if (ec) return false;
    auto local = socket_.local_endpoint(ec);
    if (ec) return false;
    local_ = {local.address().to_v4().to_uint(), local.port()};
    socket_.set_option(asio::socket_base::send_buffer_size(kSocketBufferBytes), ec);
    socket_.set_option(asio::socket_base::receive_buffer_size(kSocketBufferBytes), ec);
    socket_.non_blocking(true, ec);
    return !ec;
  }

  void SendTo(const Endpoint& to, std::span<const uint8_t> datagram) override {
    boost::system::error_code ec;
    socket_.send_to(asio::buffer(datagram.data(), datagram.size()),
                    udp::endpoint(asio::ip::address_v4(to.Address), to.Port), 0, ec);
  }

  int32_t ReceiveFrom(std::span<uint8_t> buffer, Endpoint& from) override {
    boost::system::error_code ec;
    udp::endpoint sender;
    const size_t n =
        socket_.receive_from(asio::buffer(buffer.data(), buffer.size()), sender, 0, ec);
    if (ec && ec != asio::error::message_size) return -1;
    from = {sender.address().is_v4() ? sender.address().to_v4().to_uint() : 0, sender.port()};
    return static_cast<int32_t>(n);
  }

  void WaitReadable(std::chrono::nanoseconds timeout) override {
    pollfd fd{socket_.native_handle(), POLLIN, 0};
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
    ::poll(&fd, 1, static_cast<int>(ms < 0 ? 0 : ms));
  }

  // An empty datagram to ourselves ends a wait; it comes from no server address, so the
  // receiver drops it.
  void Wake() override {
    boost::system::error_code ec;
    const uint32_t self = local_.Address == 0 ? 0x7F000001u : local_.Address;
    socket_.send_to(asio::buffer(static_cast<const void*>(nullptr), 0),
                    udp::endpoint(asio::ip::address_v4(self), local_.Port), 0, ec);
  }

  Endpoint LocalEndpoint() const override { return local_; }

 private:
  asio::io_context io_;
  udp::socket socket_;
  Endpoint local_;
};

}  // namespace

std::unique_ptr<DatagramSocket> OpenUdpSocket(std::string_view bind_address, uint16_t port) {
  auto s = std::make_unique<UdpSocket>();
  if (!s->Open(bind_address, port)) return nullptr;
  return s;
}

}  // namespace ab
