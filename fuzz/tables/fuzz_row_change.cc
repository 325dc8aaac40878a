// Row changes and deletions on a loaded table with every column type. The input is a sequence
// of operations: a tag byte (bit 0: deletion rather than change; bit 1: rebuild the view after
// it), then for a change an int8 row, a length byte and that many record bytes; for a deletion
// an int8 record number. The view is rebuilt at the end in any case.

#include <string>

#include "sample_table.h"
#include "tables/base_client.h"
#include "tables/conversion_error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ab::Bytes image = ab::BuildRawTable(ab::fuzz::SampleTable());
  ab::TBaseClient t(std::filesystem::temp_directory_path());
  t.NameTable = "object";
  t.LoadRawImage(image);
  size_t at = 0;
  while (at + 2 <= size) {
    uint8_t tag = data[at++];
    int32_t value = static_cast<int8_t>(data[at++]);
    if (tag & 1) {
      t.MarkDeleted(value);
    } else {
      if (at >= size) break;
      size_t want = data[at++];
      size_t len = std::min(want, size - at);
      t.ApplyRowChange(value, {data + at, len});
      at += len;
    }
    // Not after every operation: a rebuild may fill a 64 MB number index.
    if (tag & 2) t.Refresh();
  }
  t.Refresh();
  for (int32_t k = 1; k <= static_cast<int32_t>(t.Fields.size()); ++k) {
    for (int32_t r = 0; r <= t.RowCount() + 1 && r < 300; ++r) {
      ab::FieldGFB* f = t.FieldAtRow(k, r);
      (void)f->AsString();
      (void)f->AsBytes();
      try {
        (void)f->AsInteger();
        (void)f->AsFloat();
      } catch (const ab::ConversionError&) {
      }
    }
  }
  return 0;
}
