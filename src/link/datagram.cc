#include "link/datagram.h"

#include <algorithm>

#include "util/func.h"

namespace ab {

namespace {

void WriteFields(const DatagramHeader& h, uint8_t* p) {
  PutU16(p + kOffMagic, kMagic);
  p[kOffKind] = h.Kind;
  PutI32(p + kOffPayloadLength, h.PayloadLength);
  std::copy(h.Reserved.begin(), h.Reserved.end(), p + kOffReserved);
  PutI32(p + kOffChunkOffset, h.ChunkOffset);
  PutI32(p + kOffTotalSize, h.TotalSize);
  PutI64(p + kOffMessageNumber, h.MessageNumber);
  PutI32(p + kOffChunkCount, h.ChunkCount);
  PutI32(p + kOffChunkNumber, h.ChunkNumber);
  std::copy(h.ConnectionId.begin(), h.ConnectionId.end(), p + kOffConnectionId);
}

}  // namespace

DatagramHeader ReadPrefixFields(std::span<const uint8_t> prefix) {
  DatagramHeader h;
  if (prefix.size() < static_cast<size_t>(kPrefixSize)) return h;
  const uint8_t* p = prefix.data();
  h.Kind = p[kOffKind];
  h.PayloadLength = GetI32(p + kOffPayloadLength);
  std::copy(p + kOffReserved, p + kOffReserved + 8, h.Reserved.begin());
  h.ChunkOffset = GetI32(p + kOffChunkOffset);
  h.TotalSize = GetI32(p + kOffTotalSize);
  h.MessageNumber = GetI64(p + kOffMessageNumber);
  h.ChunkCount = GetI32(p + kOffChunkCount);
  h.ChunkNumber = GetI32(p + kOffChunkNumber);
  std::copy(p + kOffConnectionId, p + kOffConnectionId + 16, h.ConnectionId.begin());
  return h;
}

void EncodePrefix(const DatagramHeader& header, std::span<uint8_t> out) {
  if (out.size() < static_cast<size_t>(kPrefixSize)) return;
  WriteFields(header, out.data());
  SeedBytes(out);
  ScramblePrefix(out.first(kPrefixSize), kHeaderSize, kKeyTableLink);
}

std::optional<DatagramHeader> DecodePrefix(std::span<const uint8_t> datagram) {
  const size_t n = datagram.size();
  if (n < static_cast<size_t>(kMinDatagram) || n > static_cast<size_t>(kMaxDatagram)) {
    return std::nullopt;
  }
  std::array<uint8_t, kPrefixSize> prefix;
  std::copy_n(datagram.begin(), kPrefixSize, prefix.begin());
  ScramblePrefix(prefix, kHeaderSize, kKeyTableLink);
  if (GetU16(prefix.data() + kOffMagic) != kMagic) return std::nullopt;
  DatagramHeader h = ReadPrefixFields(prefix);
  // 64-bit sum: a forged PayloadLength near INT32_MAX must not wrap into a match.
  if (static_cast<int64_t>(kPrefixSize) + h.PayloadLength != static_cast<int64_t>(n)) {
    return std::nullopt;
  }
  return h;
}

void UnscramblePayload(std::span<uint8_t> payload) { Scramble(payload, kKeyTableLink); }

void BuildAck(const DatagramHeader& received, std::span<uint8_t> out) {
  DatagramHeader ack = received;
  ack.Kind = kKindAck;
  ack.PayloadLength = 0;
  EncodePrefix(ack, out);
}

Bytes BuildDatagram(const DatagramHeader& header, std::span<const uint8_t> payload) {
  Bytes out(kPrefixSize + payload.size());
  EncodePrefix(header, out);
  std::copy(payload.begin(), payload.end(), out.begin() + kPrefixSize);
  return out;
}

}  // namespace ab
