// Writes the seed inputs of fuzz_table_load and fuzz_row_change into <folder>/<target>/.

#include <cstdio>
#include <filesystem>
#include <string>

#include "sample_table.h"

namespace {

void Write(const std::filesystem::path& p, const ab::Bytes& bytes) {
  FILE* f = std::fopen(p.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

ab::Bytes With(uint8_t mode, const ab::Bytes& body) {
  ab::Bytes out{mode};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

void Change(ab::Bytes& out, int8_t row, const ab::Bytes& record) {
  out.push_back(2);
  out.push_back(static_cast<uint8_t>(row));
  out.push_back(static_cast<uint8_t>(record.size()));
  out.insert(out.end(), record.begin(), record.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::filesystem::path root = argv[1];
  auto load = root / "fuzz_table_load";
  auto change = root / "fuzz_row_change";
  std::filesystem::create_directories(load);
  std::filesystem::create_directories(change);

  ab::TableData table = ab::fuzz::SampleTable();
  ab::Bytes raw = ab::BuildRawTable(table);
  std::string text = ab::BuildTextTable(table);
  Write(load / "raw", With(0, raw));
  Write(load / "compressed", With(1, ab::Compress(raw)));
  Write(load / "compress_here", With(2, raw));
  Write(load / "text", With(4, ab::Bytes(text.begin(), text.end())));
  Write(load / "structure_only", With(8, raw));
  Write(load / "cached", With(16, raw));

  using ab::IntValue;
  ab::Bytes ops;
  Change(ops, 3, ab::BuildRowChange("object", 3, 4, {{"n_abs", IntValue(13, 4)}}));
  Change(ops, 0, ab::BuildRowChange("object", 0, 4, {{"s", ab::SlotValue("new", 8)}}));
  Change(ops, 1, ab::BuildRowChange("object", 1, 4, {{"c15", ab::CodedValue(5, 2, "five", 8)}}));
  Change(ops, 2, ab::BuildRowChange("object", 2, 4, {{"m", ab::PoolValue(20, 12, "pool")}}));
  ops.push_back(3);
  ops.push_back(11);
  Write(change / "changes", ops);
  return 0;
}
