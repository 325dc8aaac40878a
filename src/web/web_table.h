#pragma once
// The read side of one replicated table as the HTTP resources use it. Every call, positioning
// included, must be made under the controller's Lock: positioning is state shared by all readers
// of the table. Rows and fields are 1-based, as at every table interface.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytes.h"

namespace ab {

class WebTable {
 public:
  virtual ~WebTable() = default;

  // Rows in the view.
  virtual int32_t Count() = 0;
  // Positions the reads that follow on a view row (as FieldByNumberAt does); a row outside the
  // view leaves the position unchanged.
  virtual void SelectViewRow(int32_t view_row) = 0;
  // Positions the reads that follow on a physical row (as FieldAtRow does).
  virtual void SelectPhysicalRow(int32_t row) = 0;
  // Moves the table's cursor row (RecordIndex) and positions the reads that follow on it.
  virtual void SetRecordIndex(int32_t view_row) = 0;

  // Accessors of the positioned row; a missing field gives 0, an empty text or no bytes.
  virtual int32_t AsInteger(int32_t field) = 0;
  virtual std::string AsString(int32_t field) = 0;
  virtual float AsFloat(int32_t field) = 0;
  // Days since 1899-12-30, time of day as the fraction.
  virtual double AsDateTime(int32_t field) = 0;
  virtual uint32_t AsCardinal(int32_t field) = 0;
  virtual Bytes AsBytes(int32_t field) = 0;
  virtual std::string AsStringByName(std::string_view field_name) = 0;

  // AsString without the copy where the table can avoid one. The text lives in the table or in
  // scratch: valid until the table or scratch changes.
  virtual std::string_view StringView(int32_t field, std::string& scratch) {
    scratch = AsString(field);
    return scratch;
  }
  // AsBytes(field)[index], 0 beyond its end, without building the vector.
  virtual uint8_t ByteAt(int32_t field, size_t index) {
    Bytes b = AsBytes(field);
    return index < b.size() ? b[index] : 0;
  }
};

// Entry k belongs to the object whose record number is MinObjectRecord + k.
using PerObjectLists = std::vector<std::vector<int32_t>>;

// Change counters of everything a passport body is read from: the four tables and the
// per-object lists. The same key means the same body.
using SourceKey = std::array<uint64_t, 5>;

// The four-table view the resources need, valid while the caller holds the controller's Lock.
struct WebTableSet {
  WebTable* Objects = nullptr;   // "object"
  WebTable* Persons = nullptr;   // "otvl"
  WebTable* Pictures = nullptr;  // "mesmaps"
  int32_t MinObjectRecord = 0;
  const PerObjectLists* ObjectPersons = nullptr;   // physical rows of "otvl"
  const PerObjectLists* ObjectPictures = nullptr;  // view rows of "mesmaps"
};

}  // namespace ab
