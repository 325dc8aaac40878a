#pragma once
// Small encoders and decoders for hand-built datagrams in link tests.

#include <cstdint>
#include <string>
#include <string_view>

#include "link/client_udp.h"
#include "link/datagram.h"
#include "util/bytes.h"
#include "util/func.h"

namespace ab::test {

// A data datagram as the server would send it: payload keyed and scrambled.
inline Bytes MakeDatagram(DatagramHeader h, std::string_view data) {
  Bytes payload(2 + data.size());
  std::copy(data.begin(), data.end(), payload.begin() + 2);
  SeedBytes(payload);
  Scramble(payload, kKeyTableLink);
  h.PayloadLength = static_cast<int32_t>(payload.size());
  return BuildDatagram(h, payload);
}

// One chunk of a server message.
inline Bytes MakeChunk(uint8_t kind, int64_t number, int32_t chunk, int32_t count, int32_t offset,
                       int32_t total, std::string_view data) {
  DatagramHeader h;
  h.Kind = kind;
  h.MessageNumber = number;
  h.ChunkNumber = chunk;
  h.ChunkCount = count;
  h.ChunkOffset = offset;
  h.TotalSize = total;
  return MakeDatagram(h, data);
}

// A whole text in one datagram.
inline Bytes MakeText(int64_t number, std::string_view text) {
  return MakeChunk(kKindText, number, 1, 1, 0, static_cast<int32_t>(text.size() + 2), text);
}

inline Bytes MakeAck(int64_t number, int32_t chunk) {
  DatagramHeader h;
  h.Kind = kKindAck;
  h.MessageNumber = number;
  h.ChunkNumber = chunk;
  Bytes out(kPrefixSize);
  EncodePrefix(h, out);
  return out;
}

struct Decoded {
  DatagramHeader Header;
  std::string Data;  // payload after its key, unscrambled
};

inline Decoded Decode(const Bytes& datagram) {
  Decoded d;
  auto h = DecodePrefix(datagram);
  if (!h) return d;
  d.Header = *h;
  Bytes payload(datagram.begin() + kPrefixSize, datagram.end());
  UnscramblePayload(payload);
  if (payload.size() > 2) d.Data.assign(payload.begin() + 2, payload.end());
  return d;
}

// Receives everything waiting, then iterates as the protocol thread does: on while work is found
// or a timer is already due, at most max_rounds times.
inline void StepLink(client_udp& link, const Clock& clock, int max_rounds) {
  while (link.ReceivePass()) {
  }
  for (int i = 0; i < max_rounds; ++i) {
    const bool work = link.Iterate();
    while (link.ReceivePass()) {
    }
    if (!work && link.NextWake() > TickCount(clock)) break;
  }
}

}  // namespace ab::test
