// Feeds arbitrary datagrams through the link's receive pass and protocol iterations. The input
// is a list of steps: raw datagrams, datagrams built from fuzzed header fields (so that they
// pass the prefix tests and reach reassembly), clock advances and acknowledgements.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "link/client_udp.h"
#include "link/memory_socket.h"
#include "util/bytes.h"
#include "util/func.h"

namespace {

constexpr ab::Endpoint kLinkEnd{0x0A0000FE, 40000};
constexpr ab::Endpoint kServerEnd{0x0A000001, 5000};

struct Input {
  const uint8_t* p;
  size_t n;
  bool Take(size_t k, const uint8_t*& out) {
    if (n < k) return false;
    out = p;
    p += k;
    n -= k;
    return true;
  }
  uint8_t Byte() {
    const uint8_t* b;
    return Take(1, b) ? *b : 0;
  }
};

ab::Bytes Build(ab::DatagramHeader h, const uint8_t* data, size_t len, bool fix_length) {
  ab::Bytes payload(2 + len);
  if (len > 0) std::memcpy(payload.data() + 2, data, len);
  ab::SeedBytes(payload);
  ab::Scramble(payload, ab::kKeyTableLink);
  if (fix_length) h.PayloadLength = static_cast<int32_t>(payload.size());
  return ab::BuildDatagram(h, payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / "ab-link-fuzz";
    std::filesystem::create_directories(d);
    return d;
  }();
  ab::ManualClock clock;
  std::mutex lock;
  auto [a, b] = ab::MakeMemorySocketPair(kLinkEnd, kServerEnd);
  ab::MemorySocket* server = b.get();
  ab::client_udp link("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", 5000, "10.0.0.1", std::move(a), clock,
                      lock, dir, false);
  link.SetEnabled(true);
  link.Iterate();
  const std::string regok = "{\"$c$\":\"regok\",\"tid\":\"0123abcd-4567-89ef-0123-456789abcdef\"}";
  ab::DatagramHeader r;
  r.Kind = ab::kKindText;
  r.MessageNumber = 1;
  r.ChunkCount = 1;
  r.ChunkNumber = 1;
  server->SendTo(kLinkEnd,
                 Build(r, reinterpret_cast<const uint8_t*>(regok.data()), regok.size(), true));
  link.ReceivePass();
  link.Iterate();
  link.OutQueue.Push(std::string(3000, 'o'));

  Input in{data, size};
  while (in.n > 0) {
    const uint8_t op = in.Byte();
    switch (op % 4) {
      case 0: {  // raw datagram
        const size_t len = std::min<size_t>(in.Byte() * 8u, in.n);
        const uint8_t* d = nullptr;
        in.Take(len, d);
        server->SendTo(kLinkEnd, std::span<const uint8_t>(d, len));
        break;
      }
      case 1: {  // structured datagram
        const uint8_t* f;
        if (!in.Take(25, f)) return 0;
        ab::DatagramHeader h;
        h.Kind = f[0];
        h.PayloadLength = ab::GetI32(f + 1);
        h.ChunkOffset = ab::GetI32(f + 5);
        h.TotalSize = ab::GetI32(f + 9);
        h.MessageNumber = ab::GetI32(f + 13);
        h.ChunkCount = ab::GetI32(f + 17);
        h.ChunkNumber = ab::GetI32(f + 21);
        const size_t len = std::min<size_t>(in.Byte() * 6u, in.n);
        const uint8_t* d = nullptr;
        in.Take(len, d);
        server->SendTo(kLinkEnd, Build(h, d, len, (op & 0x80) == 0));
        break;
      }
      case 2:  // time passes
        clock.Advance(std::chrono::milliseconds(in.Byte() * 64));
        break;
      case 3: {  // an acknowledgement of the outgoing transfer
        ab::DatagramHeader h;
        h.Kind = ab::kKindAck;
        h.MessageNumber = link.Window.TransferNumber + (op >> 7);
        h.ChunkNumber = in.Byte() % 8;
        ab::Bytes d(ab::kPrefixSize);
        ab::EncodePrefix(h, d);
        server->SendTo(kLinkEnd, d);
        break;
      }
    }
    while (link.ReceivePass()) {
    }
    for (int i = 0; i < 4; ++i) link.Iterate();
    ab::MemoryDatagram sink;
    while (server->Take(sink)) {
    }
  }
  return 0;
}
