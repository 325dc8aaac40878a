#pragma once
// The datagram socket the link talks to: a real UDP socket in the program, an in-memory pair in
// tests. Send and receive may be called from two threads at once; each call moves one whole
// datagram.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ab {

struct Endpoint {
  uint32_t Address = 0;  // IPv4, host order (127.0.0.1 = 0x7F000001)
  uint16_t Port = 0;
  bool operator==(const Endpoint&) const = default;
};

// Dotted IPv4 text to an address; nothing for anything else (no name resolution).
std::optional<uint32_t> ParseIpv4(std::string_view text);
std::string FormatIpv4(uint32_t address);

class DatagramSocket {
 public:
  virtual ~DatagramSocket() = default;
  // Errors are not reported: a lost datagram is made good by the protocol.
  virtual void SendTo(const Endpoint& to, std::span<const uint8_t> datagram) = 0;
  // Reads one waiting datagram without blocking: its length (0 is a valid empty datagram), or
  // -1 when none is waiting or on any error. A datagram longer than the buffer is cut.
  virtual int32_t ReceiveFrom(std::span<uint8_t> buffer, Endpoint& from) = 0;
  // Blocks until a datagram may be waiting, Wake() is called or the timeout passes.
  virtual void WaitReadable(std::chrono::nanoseconds timeout) = 0;
  // Makes a current or the next WaitReadable return early.
  virtual void Wake() = 0;
  virtual Endpoint LocalEndpoint() const = 0;
};

}  // namespace ab
