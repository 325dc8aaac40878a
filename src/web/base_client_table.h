#pragma once
// WebTable over a replicated table, so the controller can hand its tables to the resources.
// Like the table itself, used only under the controller's Lock.

#include "tables/base_client.h"
#include "web/web_table.h"

namespace ab {

class BaseClientTable final : public WebTable {
 public:
  // The table must outlive the adapter.
  explicit BaseClientTable(TBaseClient& table) : table_(table) {}

  int32_t Count() override { return table_.Count(); }
  void SelectViewRow(int32_t view_row) override;
  void SelectPhysicalRow(int32_t row) override;
  void SetRecordIndex(int32_t view_row) override;

  int32_t AsInteger(int32_t field) override { return ab::AsInteger(Field(field)); }
  std::string AsString(int32_t field) override { return ab::AsString(Field(field)); }
  float AsFloat(int32_t field) override { return ab::AsFloat(Field(field)); }
  double AsDateTime(int32_t field) override { return ab::AsDateTime(Field(field)); }
  uint32_t AsCardinal(int32_t field) override { return ab::AsCardinal(Field(field)); }
  Bytes AsBytes(int32_t field) override { return ab::AsBytes(Field(field)); }
  std::string AsStringByName(std::string_view field_name) override;
  std::string_view StringView(int32_t field, std::string& scratch) override;
  uint8_t ByteAt(int32_t field, size_t index) override;

 private:
  enum class Mode { kView, kPhysical, kCursor };
  // The field positioned on the selected row.
  FieldGFB* Field(int32_t number);

  TBaseClient& table_;
  Mode mode_ = Mode::kView;
  int32_t row_ = 0;
};

}  // namespace ab
