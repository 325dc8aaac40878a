#include "web/base_client_table.h"

#include <algorithm>

namespace ab {
namespace {

// ReadSlotText without the copy: a length byte, then the text.
std::string_view SlotView(const std::vector<uint8_t>& bytes, size_t offset, size_t size) {
  if (size == 0 || offset >= bytes.size()) return {};
  size = std::min(size, bytes.size() - offset);
  size_t n = std::min<size_t>(bytes[offset], size - 1);
  return {reinterpret_cast<const char*>(bytes.data() + offset + 1), n};
}

}  // namespace

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

// The texts that FieldGFB::AsString copies out of the column are viewed in place; the base
// test of this adapter pins every type against AsString.
std::string_view BaseClientTable::StringView(int32_t number, std::string& scratch) {
  const FieldGFB* f = Field(number);
  if (!f) return {};
  int32_t r = f->Owner ? f->Owner->CurrentRow() : 0;
  if (r < 1 || f->Owner->RowCount() <= 0) return kRecordNotFound;
  auto i = static_cast<size_t>(r - 1);
  const Stru_Data& d = f->Data;
  switch (f->FieldType) {
    case kTypeShortText: {
      size_t w = f->Width > 0 ? static_cast<size_t>(f->Width) : 0;
      if (w == 0 || i >= d.Bytes.size() / w) return {};
      return SlotView(d.Bytes, i * w, w);
    }
    case kTypePoolText: {
      if (!d.Strings.empty()) return i < d.Strings.size() ? std::string_view(d.Strings[i]) : "";
      if (i >= d.Ints.size()) return {};
      int32_t off = d.Ints[i];
      if (off < 0) return {};
      auto o = static_cast<size_t>(off);
      return o < d.Bytes.size() ? SlotView(d.Bytes, o, d.Bytes.size() - o) : std::string_view();
    }
    default:
      scratch = f->AsString();
      return scratch;
  }
}

uint8_t BaseClientTable::ByteAt(int32_t number, size_t index) {
  const FieldGFB* f = Field(number);
  if (!f || f->FieldType != kTypeRawBytes || !f->Owner) return 0;
  int32_t r = f->Owner->CurrentRow();
  size_t w = f->Width > 0 ? static_cast<size_t>(f->Width) : 0;
  if (r < 1 || f->Owner->RowCount() < 1 || index >= w) return 0;
  size_t at = static_cast<size_t>(r - 1) * w + index;
  return at < f->Data.Bytes.size() ? f->Data.Bytes[at] : 0;
}

}  // namespace ab
