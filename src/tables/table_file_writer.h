#pragma once
// Builds table files and change records from data given in code: for tests, fuzz seeds,
// benchmarks and the message-server test double that serves tables.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "util/bytes.h"

namespace ab {

// One field of a table to write. Values go in the member its type uses; missing rows are
// written as zeros (no text for type 24).
struct FieldData {
  std::string Name;
  uint8_t Type = 1;
  int32_t Width = 0;  // 0: the type's width
  int32_t TextWidth = 0;
  bool Block = true;                              // write a column block for this field
  std::vector<int64_t> Numbers;                   // integer types, type-4 bools, codes of 15 and 16
  std::vector<double> Reals;                      // 6, 7, 9
  std::vector<std::optional<std::string>> Texts;  // 2 and 11 (slot bytes), 24 (none: offset -1)
  std::vector<std::pair<uint32_t, std::string>> Dictionary;  // 15, 16
};

struct TableData {
  std::string Name;
  int32_t RowCount = 0;
  std::vector<FieldData> Fields;
};

// The raw form: header, descriptors, one block per field with Block set.
Bytes BuildRawTable(const TableData& table);
// A zlib stream (RFC 1950) of the bytes.
Bytes Compress(const Bytes& bytes);
// The text form ("tabledata") with the type-1 and type-24 columns of the fields with Block set.
std::string BuildTextTable(const TableData& table);

// One entry of a row change record: a field name and its value bytes.
struct ChangeEntry {
  std::string Name;
  Bytes Value;
};
Bytes BuildRowChange(const std::string& table, int32_t row, int32_t row_count,
                     const std::vector<ChangeEntry>& entries);
// Value bytes: a little-endian integer of `width` bytes, a short text in a slot, a coded text,
// a type-24 pool entry (offset -1 or pool_size 0: no text follows).
Bytes IntValue(int64_t v, int width);
Bytes SlotValue(const std::string& text, int32_t width);
Bytes CodedValue(uint32_t code, int width, const std::string& text, int32_t text_width);
Bytes PoolValue(int32_t pool_size, int32_t offset, const std::string& text);

}  // namespace ab
