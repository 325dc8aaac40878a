#include "web/base_client_table.h"

namespace ab {

void BaseClientTable::SelectViewRow(int32_t view_row) {
  mode_ = Mode::kView;
  row_ = view_row;
}

void BaseClientTable::SelectPhysicalRow(int32_t row) {
  mode_ = Mode::kPhysical;
  row_ = row;
}

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

}  // namespace ab
