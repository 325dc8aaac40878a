#pragma once
// The link's real UDP socket (IPv4), on Boost.Asio, non-blocking.

#include <memory>
#include <string_view>

#include "link/datagram_socket.h"

namespace ab {

inline constexpr int kSocketBufferBytes = 524288;

// Opens a socket bound to bind_address:port (0.0.0.0 port 0 for the link) with 512 KiB send
// and receive buffers (a refusal of the sizes is ignored). Null when opening or binding fails.
std::unique_ptr<DatagramSocket> OpenUdpSocket(std::string_view bind_address = "0.0.0.0",
                                              uint16_t port = 0);

}  // namespace ab
