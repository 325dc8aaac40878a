#pragma once
// Byte layouts of the raw table file, the field descriptor and the row change record, plus the
// limits every size from outside is checked against. All integers are little-endian; a short text
// is a length byte followed by that many bytes of the Windows-1251 code page.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "util/bytes.h"

namespace ab {

// Field type codes; the column each one uses is listed in field_gfb.h.
enum FieldTypeCode : uint8_t {
  kTypeInt = 1,
  kTypeShortText = 2,
  kTypeByte = 3,
  kTypeBool = 4,
  kTypeWord = 5,
  kTypeSingle = 6,
  kTypeDouble = 7,
  kTypeCardinal = 8,
  kTypeDate = 9,
  kTypeRawBytes = 11,
  kTypeInt64 = 13,
  kTypeCoded32 = 15,
  kTypeCoded16 = 16,
  kTypeHexInt = 21,
  kTypePoolText = 24,
  kTypeSeconds = 25,
};

// Bytes per row a type must have in files and change records: 0 for the slot types 2 and 11
// (any width) and -1 for codes that carry no column.
int32_t FixedTypeWidth(uint8_t type);
// True for the codes that have a column.
bool TypeHasColumn(uint8_t type);

// Raw file header.
inline constexpr size_t kTableNameSlot = 9;
inline constexpr size_t kTableHeaderSize = 21;
inline constexpr size_t kHeaderRowCount = 9;
inline constexpr size_t kHeaderBlockCount = 13;
inline constexpr size_t kHeaderFieldCount = 17;

// Field descriptor: list entry, column block head and structure cache entry.
inline constexpr size_t kFieldNameSlot = 16;
inline constexpr size_t kDescriptorSize = 37;

struct FieldDescriptor {
  int32_t Number = 0;
  std::string Name;  // at most 15 bytes
  uint8_t Type = 0;
  int32_t Width = 0;
  int32_t TextWidth = 0;
  int32_t Count = 0;  // dictionary entries (15, 16) or pool bytes (24)

  // p must hold kDescriptorSize bytes.
  static FieldDescriptor Read(const uint8_t* p);
  void Append(Bytes& out) const;
};

// Row change record: name slot, 0-based row, row count after the change, then field entries.
inline constexpr size_t kChangeRow = 9;
inline constexpr size_t kChangeRowCount = 13;
inline constexpr size_t kChangeEntries = 17;

// Short text in a slot of slot_size bytes; a length byte larger than the slot allows is cut to
// what the slot holds.
std::string ReadSlotText(std::span<const uint8_t> slot);
// Writes text as a short text into a zeroed slot of slot_size bytes, cutting it to fit.
void AppendSlotText(Bytes& out, std::string_view text, size_t slot_size);

// Record numbers are 24-bit (the view rebuild starts its minimum at FFFFFF); a lookup from
// record number to row never spans more numbers than that.
inline constexpr int64_t kMaxNumberIndexSpan = int64_t{1} << 24;
// Row counts from files and change records above this are refused: every column is sized from
// the count, and 1M rows of a 210-field table already take about 400 MB.
inline constexpr int32_t kMaxRowCount = 1 << 20;
// Bytes per row and text slot size of a field: short texts hold at most 255 characters, so
// anything larger is not a table of ours (and AsBytes hands out Width bytes).
inline constexpr int32_t kMaxFieldWidth = 1 << 16;
// One change record may add at most this many rows: the server adds rows one at a time, and a
// forged row count must not grow every column of a wide table by millions of rows.
inline constexpr int32_t kMaxRowGrowth = 1 << 12;
// A compressed table file may not inflate beyond this.
inline constexpr size_t kMaxInflatedBytes = size_t{1} << 30;
// A type-24 pool may not be grown beyond this by a change record.
inline constexpr int32_t kMaxPoolBytes = 1 << 28;

}  // namespace ab
