#pragma once
// Record messages from the server (row changes, deletions, bundles of them). Layout, all
// integers little-endian int32:
//   0  type: 1 history parts, 2 row change, 3 deletion, 4 bundle
//   4  body. Types 2 and 3: table name slot (length byte + up to 8 characters) at 0, int32 at 9
//      (row position / record number); type 2's whole body is the row change record.
//      Type 4: count byte n, then n times { int32 length L, L bytes of a type 1..3 message }.
// Every length is checked against the bytes at hand.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace ab {

inline constexpr int32_t kRecordHistory = 1;
inline constexpr int32_t kRecordRowChange = 2;
inline constexpr int32_t kRecordDeletion = 3;
inline constexpr int32_t kRecordBundle = 4;
inline constexpr size_t kNameSlot = 9;

struct RecordMessage {
  int32_t Type = 0;
  std::span<const uint8_t> Body;
};

// Nothing when shorter than its type field.
std::optional<RecordMessage> ReadRecordMessage(std::span<const uint8_t> bytes);

struct TableRecord {
  std::string Table;
  int32_t Value = 0;  // row position or record number
};
// Name slot and int32 of a type 2 or 3 body; nothing when the body is too short for them.
std::optional<TableRecord> ReadTableRecord(std::span<const uint8_t> body);

// Calls each with every entry of a bundle body in order. Returns the count byte n, and sets
// complete false when an entry ran past the end (that entry and the rest are not handed out).
int32_t ForEachBundleEntry(std::span<const uint8_t> body,
                           const std::function<void(std::span<const uint8_t>)>& each,
                           bool& complete);

}  // namespace ab
