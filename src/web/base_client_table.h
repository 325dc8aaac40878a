#pragma once
// WebTable over a replicated table, so the controller can hand its tables to the resources.
// Like the table itself, used only under the controller's Lock.

#include <algorithm>
#include <string_view>
#include <vector>

#include "tables/base_client.h"
#include "web/web_table.h"

namespace ab {

class BaseClientTable final : public WebTable {
 public:
  // The table must outlive the adapter.
  explicit BaseClientTable(TBaseClient& table) : table_(table) {}

  int32_t Count() override { return table_.Count(); }
  void SelectViewRow(int32_t view_row) override {
    mode_ = Mode::kView;
    row_ = view_row;
  }
  void SelectPhysicalRow(int32_t row) override {
    mode_ = Mode::kPhysical;
    row_ = row;
  }
  void SetRecordIndex(int32_t view_row) override;

  int32_t AsInteger(int32_t field) override { return ab::AsInteger(Field(field)); }
  std::string AsString(int32_t field) override { return ab::AsString(Field(field)); }
  float AsFloat(int32_t field) override { return ab::AsFloat(Field(field)); }
  double AsDateTime(int32_t field) override { return ab::AsDateTime(Field(field)); }
  uint32_t AsCardinal(int32_t field) override { return ab::AsCardinal(Field(field)); }
  Bytes AsBytes(int32_t field) override { return ab::AsBytes(Field(field)); }
  std::string AsStringByName(std::string_view field_name) override;
  // Inline, so that a caller holding this class (final) by its own type reads slot and pool
  // texts and raw bytes straight from the column, without positioning the table; cursor mode,
  // rows outside the view and other types take the positioned path.
  [[gnu::always_inline]] std::string_view StringView(int32_t field, std::string& scratch) override {
    int32_t row = 0;
    const FieldGFB* f = Located(field, row);
    if (f && f->Owner) {
      if (row < 1 || f->Owner->RowCount() <= 0) return kRecordNotFound;
      std::string_view text;
      if (TextInPlace(*f, static_cast<size_t>(row - 1), text)) return text;
    }
    return PositionedStringView(field, scratch);
  }
  [[gnu::always_inline]] uint8_t ByteAt(int32_t field, size_t index) override {
    int32_t row = 0;
    const FieldGFB* f = Located(field, row);
    if (!f || !f->Owner) return PositionedByteAt(field, index);
    if (f->FieldType != kTypeRawBytes) return 0;
    size_t w = f->Width > 0 ? static_cast<size_t>(f->Width) : 0;
    if (row < 1 || f->Owner->RowCount() < 1 || index >= w) return 0;
    size_t at = static_cast<size_t>(row - 1) * w + index;
    return at < f->Data.Bytes.size() ? f->Data.Bytes[at] : 0;
  }

 private:
  enum class Mode { kView, kPhysical, kCursor };
  // The field positioned on the selected row.
  FieldGFB* Field(int32_t number);
  // The field and the physical row that a read would position on, without positioning; null
  // where the table's own rules apply (cursor mode, a view row outside the view, no such field).
  [[gnu::always_inline]] const FieldGFB* Located(int32_t number, int32_t& row) const {
    if (number < 1 || static_cast<size_t>(number) > table_.Fields.size()) return nullptr;
    if (mode_ == Mode::kView) {
      const std::vector<int32_t>& view = table_.View();
      if (row_ < 1 || static_cast<size_t>(row_) > view.size()) return nullptr;
      row = view[static_cast<size_t>(row_ - 1)];
    } else if (mode_ == Mode::kPhysical) {
      row = row_;
    } else {
      return nullptr;
    }
    return table_.Fields[static_cast<size_t>(number - 1)].get();
  }
  // The text AsString gives for a slot or pool text at the 0-based row, viewed in the column;
  // false for the other types.
  [[gnu::always_inline]] static bool TextInPlace(const FieldGFB& f, size_t i,
                                                 std::string_view& text) {
    const Stru_Data& d = f.Data;
    if (f.FieldType == kTypeShortText) {
      size_t w = f.Width > 0 ? static_cast<size_t>(f.Width) : 0;
      text = w == 0 || i >= d.Bytes.size() / w ? std::string_view() : SlotView(d.Bytes, i * w, w);
      return true;
    }
    if (f.FieldType != kTypePoolText) return false;
    if (!d.Strings.empty()) {
      text = i < d.Strings.size() ? std::string_view(d.Strings[i]) : std::string_view();
    } else if (i >= d.Ints.size() || d.Ints[i] < 0) {
      text = {};
    } else {
      auto o = static_cast<size_t>(d.Ints[i]);
      text = o < d.Bytes.size() ? SlotView(d.Bytes, o, d.Bytes.size() - o) : std::string_view();
    }
    return true;
  }
  // ReadSlotText without the copy: a length byte, then the text.
  [[gnu::always_inline]] static std::string_view SlotView(const std::vector<uint8_t>& bytes,
                                                          size_t offset, size_t size) {
    if (size == 0 || offset >= bytes.size()) return {};
    size = std::min(size, bytes.size() - offset);
    size_t n = std::min<size_t>(bytes[offset], size - 1);
    return {reinterpret_cast<const char*>(bytes.data() + offset + 1), n};
  }
  std::string_view PositionedStringView(int32_t field, std::string& scratch);
  uint8_t PositionedByteAt(int32_t field, size_t index);

  TBaseClient& table_;
  Mode mode_ = Mode::kView;
  int32_t row_ = 0;
};

}  // namespace ab
