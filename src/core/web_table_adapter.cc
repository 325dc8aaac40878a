#include "core/web_table_adapter.h"

namespace ab {

int32_t WebTableAdapter::Count() { return table_ ? table_->Count() : 0; }

void WebTableAdapter::SelectViewRow(int32_t view_row) {
  if (!table_ || view_row < 1 || view_row > table_->Count()) return;
  physical_ = false;
  row_ = view_row;
}

void WebTableAdapter::SelectPhysicalRow(int32_t row) {
  physical_ = true;
  row_ = row;
}

void WebTableAdapter::SetRecordIndex(int32_t view_row) {
  if (!table_) return;
  table_->SetRecordIndex(view_row);
  SelectViewRow(view_row);
}

FieldGFB* WebTableAdapter::Field(int32_t number) {
  if (!table_) return nullptr;
  return physical_ ? table_->FieldAtRow(number, row_) : table_->FieldByNumberAt(number, row_);
}

int32_t WebTableAdapter::AsInteger(int32_t field) {
  FieldGFB* f = Field(field);
  return f ? f->AsInteger() : 0;
}

std::string WebTableAdapter::AsString(int32_t field) {
  FieldGFB* f = Field(field);
  return f ? f->AsString() : std::string();
}

float WebTableAdapter::AsFloat(int32_t field) {
  FieldGFB* f = Field(field);
  return f ? f->AsFloat() : 0.0f;
}

double WebTableAdapter::AsDateTime(int32_t field) {
  FieldGFB* f = Field(field);
  return f ? f->AsDateTime() : 0.0;
}

uint32_t WebTableAdapter::AsCardinal(int32_t field) {
  FieldGFB* f = Field(field);
  return f ? f->AsCardinal() : 0;
}

Bytes WebTableAdapter::AsBytes(int32_t field) {
  FieldGFB* f = Field(field);
  return f ? f->AsBytes() : Bytes();
}

std::string WebTableAdapter::AsStringByName(std::string_view field_name) {
  if (!table_) return {};
  FieldGFB* f = physical_ ? nullptr : table_->FieldByNameAt(field_name, row_);
  if (physical_) {
    // By-name reads of a physical row: find the field's number, then read that row.
    FieldGFB* named = table_->FieldByName(field_name);
    f = named ? table_->FieldAtRow(named->FieldNumber, row_) : nullptr;
  }
  return f ? f->AsString() : std::string();
}

}  // namespace ab
