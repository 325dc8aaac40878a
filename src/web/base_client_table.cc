#include "web/base_client_table.h"

namespace ab {

void BaseClientTable::SetRecordIndex(int32_t view_row) {
  table_.SetRecordIndex(view_row);
  mode_ = Mode::kCursor;
}

FieldGFB* BaseClientTable::Field(int32_t number) {
  switch (mode_) {
    case Mode::kView:
      return table_.FieldByNumberAt(number, row_);
    case Mode::kPhysical:
      return number >= 1 ? table_.FieldAtRow(number, row_) : nullptr;
    case Mode::kCursor:
      return table_.FieldByNumberAt(number, table_.RecordIndex());
  }
  return nullptr;
}

std::string BaseClientTable::AsStringByName(std::string_view field_name) {
  switch (mode_) {
    case Mode::kView:
      return ab::AsString(table_.FieldByNameAt(field_name, row_));
    case Mode::kPhysical:
      table_.FieldAtRow(1, row_);
      return ab::AsString(table_.FieldByNameAt(field_name, 0));
    case Mode::kCursor:
      return ab::AsString(table_.FieldByNameAt(field_name, table_.RecordIndex()));
  }
  return {};
}

std::string_view BaseClientTable::PositionedStringView(int32_t number, std::string& scratch) {
  const FieldGFB* f = Field(number);
  if (!f) return {};
  int32_t r = f->Owner ? f->Owner->CurrentRow() : 0;
  if (r < 1 || f->Owner->RowCount() <= 0) return kRecordNotFound;
  std::string_view text;
  if (TextInPlace(*f, static_cast<size_t>(r - 1), text)) return text;
  scratch = f->AsString();
  return scratch;
}

uint8_t BaseClientTable::PositionedByteAt(int32_t number, size_t index) {
  const FieldGFB* f = Field(number);
  if (!f || f->FieldType != kTypeRawBytes || !f->Owner) return 0;
  int32_t r = f->Owner->CurrentRow();
  size_t w = f->Width > 0 ? static_cast<size_t>(f->Width) : 0;
  if (r < 1 || f->Owner->RowCount() < 1 || index >= w) return 0;
  size_t at = static_cast<size_t>(r - 1) * w + index;
  return at < f->Data.Bytes.size() ? f->Data.Bytes[at] : 0;
}

}  // namespace ab
