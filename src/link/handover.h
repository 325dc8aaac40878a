#pragma once
// Records the receive thread hands to the protocol thread through ReceiveQueue. Each starts
// with a type byte.

#include <cstdint>

namespace ab {

inline constexpr uint8_t kRecordAck = 0;      // 31 bytes: MessageNumber at 19, ChunkNumber at 27
inline constexpr uint8_t kRecordData = 2;     // type byte + the datagram as received
inline constexpr uint8_t kRecordKind20 = 20;  // type byte + the datagram; discarded
inline constexpr int32_t kAckRecordSize = 31;
inline constexpr int kAckRecordNumber = 19;
inline constexpr int kAckRecordChunk = 27;

}  // namespace ab
