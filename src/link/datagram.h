#pragma once
// The link's datagram layout, written down once: a 57-byte prefix (2 header key bytes and a
// 55-byte header, scrambled together) and a payload that starts with its own 2 key bytes.
// Every integer is little-endian and read through util/bytes.h.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "util/bytes.h"

namespace ab {

inline constexpr int32_t kPrefixSize = 57;
inline constexpr int32_t kHeaderSize = 55;  // scrambled part of the prefix
inline constexpr int32_t kMinDatagram = 57;
inline constexpr int32_t kMaxDatagram = 1499;  // longest datagram accepted
inline constexpr int32_t kChunkData = 960;     // data bytes per chunk sent
inline constexpr int32_t kMaxSentDatagram = kPrefixSize + 2 + kChunkData;  // 1019
inline constexpr uint16_t kMagic = 0xFFAA;
inline constexpr uint8_t kKeyTableLink = 1;
// Largest text or record message reassembled in memory; files go to disk instead.
inline constexpr int32_t kMaxMessageSize = 64 * 1024 * 1024;

// Field offsets from the start of the datagram.
inline constexpr int kOffMagic = 2;
inline constexpr int kOffKind = 4;
inline constexpr int kOffPayloadLength = 5;
inline constexpr int kOffReserved = 9;
inline constexpr int kOffChunkOffset = 17;
inline constexpr int kOffTotalSize = 21;
inline constexpr int kOffMessageNumber = 25;
inline constexpr int kOffChunkCount = 33;
inline constexpr int kOffChunkNumber = 37;
inline constexpr int kOffConnectionId = 41;

enum DatagramKind : uint8_t {
  kKindText = 0,
  kKindFile = 1,
  kKindRecord = 2,
  kKindRecord2 = 3,
  kKindNoPayload = 20,
  kKindKeepalive = 254,
  kKindAck = 255,
};

using ConnectionIdBytes = std::array<uint8_t, 16>;

struct DatagramHeader {
  uint8_t Kind = 0;
  int32_t PayloadLength = 0;
  std::array<uint8_t, 8> Reserved{};
  int32_t ChunkOffset = 0;
  int32_t TotalSize = 0;
  int64_t MessageNumber = 0;
  int32_t ChunkCount = 0;
  int32_t ChunkNumber = 0;
  ConnectionIdBytes ConnectionId{};

  bool operator==(const DatagramHeader&) const = default;
};

// Writes the prefix into out[0..56]: fresh key bytes, then the header scrambled with them.
void EncodePrefix(const DatagramHeader& header, std::span<uint8_t> out);

// The header of a received datagram, or nothing when it fails the acceptance tests: 57 to 1499
// bytes, magic AA FF, and 57 + PayloadLength equal to the length. The datagram is not changed.
std::optional<DatagramHeader> DecodePrefix(std::span<const uint8_t> datagram);

// Reads the fields of an already unscrambled prefix (no checks beyond the size).
DatagramHeader ReadPrefixFields(std::span<const uint8_t> prefix);

// Unscrambles a received payload in place (everything after its two key bytes).
void UnscramblePayload(std::span<uint8_t> payload);

// The 57-byte acknowledgement of a data datagram: its header as received with Kind 255 and
// PayloadLength 0, under new key bytes.
void BuildAck(const DatagramHeader& received, std::span<uint8_t> out);

// Whole datagram: prefix for the header plus a payload already keyed and scrambled.
Bytes BuildDatagram(const DatagramHeader& header, std::span<const uint8_t> payload);

}  // namespace ab
