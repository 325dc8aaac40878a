// LoadFromFile on arbitrary bytes. Byte 0 picks the form: bit 0 compressed, bit 1 compress the
// rest here first (a valid stream around fuzzed content), bit 2 text form, bit 3 structure only,
// bit 4 cache and archive on. Every value of every loaded field is then read.

#include <cstdio>
#include <filesystem>
#include <string>

#include "tables/base_client.h"
#include "tables/conversion_error.h"
#include "tables/table_file_writer.h"

namespace {

const std::filesystem::path& Dir() {
  static const std::filesystem::path dir = [] {
    auto d =
        std::filesystem::temp_directory_path() / ("fuzz-table-load-" + std::to_string(getpid()));
    std::filesystem::create_directories(d / "temp");
    return d;
  }();
  return dir;
}

void ReadEverything(ab::TBaseClient& t) {
  int32_t rows = std::min(t.RowCount(), 64);
  for (int32_t k = 1; k <= static_cast<int32_t>(t.Fields.size()); ++k) {
    for (int32_t r = -1; r <= rows + 1; ++r) {
      ab::FieldGFB* f = t.FieldAtRow(k, r);
      try {
        (void)f->AsInteger();
      } catch (const ab::ConversionError&) {
      }
      try {
        (void)f->AsFloat();
      } catch (const ab::ConversionError&) {
      }
      (void)f->AsString();
      (void)f->AsDateTime();
      (void)f->AsCardinal();
      (void)f->AsBytes();
    }
  }
  for (int32_t v = 0; v <= t.Count() + 1; ++v) {
    t.SetRecordIndex(v);
    (void)ab::AsString(t.FieldByNumberAt(1, v));
  }
  (void)t.RowOfNumber(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t mode = data[0];
  ab::Bytes body(data + 1, data + size);
  if (mode & 2) body = ab::Compress(body);

  ab::TBaseC tables;
  ab::AddTable(tables, Dir(), "object", "", "", (mode & 16) != 0, (mode & 16) != 0);
  ab::TBaseClient& t = *tables[0];
  t.RawFile = (mode & 4) == 0;
  t.Compressed = (mode & 3) != 0;
  t.StructureOnly = (mode & 8) != 0;
  t.OpenSharedAttempts = 1;
  std::filesystem::path file = Dir() / "temp" / "in.dat";
  if (FILE* f = std::fopen(file.c_str(), "wb")) {
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
  }
  try {
    t.LoadFromFile("temp/in.dat");
  } catch (const ab::ConversionError&) {
  }
  ReadEverything(t);
  if (mode & 16) {
    // Read the caches just written back into a fresh table.
    ab::TBaseC again;
    ab::AddTable(again, Dir(), "object", "", "", true, false);
    again[0]->OpenSharedAttempts = 1;
    (void)again[0]->BuildLoadRequest();
    ReadEverything(*again[0]);
  }
  t.Sort = t.Fields.size() > 2 ? t.Fields[2]->FieldName : "";
  t.SetSorted(true);
  std::error_code ec;
  std::filesystem::remove(file, ec);
  return 0;
}
