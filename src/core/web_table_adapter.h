#pragma once
// A replicated table as the HTTP resources read it. Used only under the controller's Lock.

#include "tables/base_client.h"
#include "web/web_table.h"

namespace ab {

class WebTableAdapter final : public WebTable {
 public:
  // A null table reads as an empty one (not registered yet).
  explicit WebTableAdapter(TBaseClient* table) : table_(table) {}

  int32_t Count() override;
  void SelectViewRow(int32_t view_row) override;
  void SelectPhysicalRow(int32_t row) override;
  void SetRecordIndex(int32_t view_row) override;

  int32_t AsInteger(int32_t field) override;
  std::string AsString(int32_t field) override;
  float AsFloat(int32_t field) override;
  double AsDateTime(int32_t field) override;
  uint32_t AsCardinal(int32_t field) override;
  Bytes AsBytes(int32_t field) override;
  std::string AsStringByName(std::string_view field_name) override;

 private:
  FieldGFB* Field(int32_t number);

  TBaseClient* table_;
  bool physical_ = false;
  int32_t row_ = 1;
};

}  // namespace ab
