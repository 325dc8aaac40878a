#pragma once
// One field (column) of a replicated table and its typed column arrays.
//
// Column storage by type code (index = physical row - 1):
//   1, 21 Ints          2, 11 Bytes (Width bytes per row)   3 Bytes        4 Bools
//   5 Words             6 Singles                            7 Doubles      8, 25 Cardinals
//   9 Dates             13 Int64s
//   15 codes in Words, dictionary keys in Cardinals, texts in Strings
//   16 codes in Bytes, dictionary keys in Words, texts in Strings
//   24 offsets in Ints into a pool of short texts in Bytes (raw form), or texts in Strings
// Any column may be shorter than the table's RowCount; reading past its end gives the empty result.
//
// Not thread-safe: the accessors read the owner's CurrentRow, so a reader holds the controller's
// lock from positioning until it has read the row.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tables/table_format.h"

namespace ab {

class TBaseClient;

struct Stru_Data {
  std::vector<int32_t> Ints;
  std::vector<std::string> Strings;
  std::vector<uint8_t> Bytes;
  std::vector<uint8_t> Bools;  // one byte per row: a bit vector cannot take a bulk read
  std::vector<uint16_t> Words;
  std::vector<float> Singles;
  std::vector<double> Doubles;
  std::vector<uint32_t> Cardinals;
  std::vector<double> Dates;
  std::vector<int64_t> Int64s;
};

// The text AsString gives for an unpositioned table: "Запись не найдена" in Windows-1251.
inline constexpr std::string_view kRecordNotFound =
    "\xC7\xE0\xEF\xE8\xF1\xFC\x20\xED\xE5\x20\xED\xE0\xE9\xE4\xE5\xED\xE0";

class FieldGFB {
 public:
  FieldGFB(TBaseClient* owner, const FieldDescriptor& d);

  // Sets FilterText; the condition is active exactly when the text is not empty. The operator,
  // mode and comparison values are set directly by whoever builds the condition.
  void SetFilterText(std::string_view text);

  // Values at the owner's CurrentRow, rendered by type. AsFloat of a type-2 text and AsInteger
  // of a type-24 text throw ConversionError when the text is not a number; nothing else throws.
  int32_t AsInteger() const;
  std::string AsString() const;
  float AsFloat() const;
  double AsDateTime() const;
  uint32_t AsCardinal() const;
  std::vector<uint8_t> AsBytes() const;

  // The slot text of a type-2 row (0-based), empty beyond the column.
  std::string SlotText(size_t row0) const;
  // The text of a type-24 row (0-based) from the pool or, in the text form, from Strings.
  std::string PoolText(size_t row0) const;
  // Dictionary text of a code of type 15 or 16; empty for code 0 or an unknown code.
  std::string CodedText(uint32_t code) const;
  // Element size in the column arrays for the fixed types, Width for 2 and 11, 0 otherwise.
  size_t RowBytes() const;

  std::string FilterText;
  uint8_t FilterOperator = 0;
  uint8_t FilterMode = 0;
  std::string FilterValueText;
  int32_t FilterValueInt = 0;
  uint8_t FilterValueByte = 0;
  TBaseClient* Owner;
  int32_t FieldNumber;
  std::string FieldName;
  uint8_t FieldType;
  int32_t Width;
  Stru_Data Data;
  int32_t TextWidth;
  bool Present = false;
  bool FilterActive = false;
  std::string Md5;

 private:
  int32_t Row() const;  // the owner's CurrentRow
};

// Accessors of a lookup result that may be none: 0, an empty text or no bytes for none.
int32_t AsInteger(const FieldGFB* f);
std::string AsString(const FieldGFB* f);
float AsFloat(const FieldGFB* f);
double AsDateTime(const FieldGFB* f);
uint32_t AsCardinal(const FieldGFB* f);
std::vector<uint8_t> AsBytes(const FieldGFB* f);

}  // namespace ab
