#pragma once
// Small tables built in code and loaded through the raw form, for the table tests.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/temp_dir.h"
#include "tables/base_client.h"
#include "tables/table_file_writer.h"

namespace ab::test {

inline FieldData IntField(std::string name, std::vector<int64_t> values, uint8_t type = 1) {
  FieldData f;
  f.Name = std::move(name);
  f.Type = type;
  f.Numbers = std::move(values);
  return f;
}

inline FieldData TextField(std::string name, uint8_t type, int32_t width,
                           std::vector<std::optional<std::string>> texts) {
  FieldData f;
  f.Name = std::move(name);
  f.Type = type;
  f.Width = width;
  f.Texts = std::move(texts);
  return f;
}

inline FieldData RealField(std::string name, uint8_t type, std::vector<double> values) {
  FieldData f;
  f.Name = std::move(name);
  f.Type = type;
  f.Reals = std::move(values);
  return f;
}

// n_abs and p_d for the given record numbers and deleted flags, then the extra fields.
inline TableData MakeTable(const std::string& name, std::vector<int64_t> numbers,
                           std::vector<int64_t> flags, std::vector<FieldData> extra = {}) {
  TableData t;
  t.Name = name;
  t.RowCount = static_cast<int32_t>(numbers.size());
  t.Fields.push_back(IntField("n_abs", std::move(numbers)));
  t.Fields.push_back(IntField("p_d", std::move(flags), 3));
  for (auto& f : extra) t.Fields.push_back(std::move(f));
  return t;
}

class TableTest : public ::testing::Test {
 protected:
  // A table named like the data, loaded from its raw form.
  std::unique_ptr<TBaseClient> Load(const TableData& data) {
    auto t = std::make_unique<TBaseClient>(dir_.path());
    t->NameTable = data.Name;
    t->RawFile = true;
    EXPECT_EQ(t->LoadRawImage(BuildRawTable(data)), TableLoadResult::kLoaded);
    return t;
  }
  std::unique_ptr<TBaseClient> Empty(const std::string& name) {
    auto t = std::make_unique<TBaseClient>(dir_.path());
    t->NameTable = name;
    t->RawFile = true;
    return t;
  }
  // Writes bytes to a file under the base directory and returns its relative path.
  std::filesystem::path WriteFile(const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(dir_.path() / "temp");
    std::filesystem::path rel = std::filesystem::path("temp") / name;
    FILE* f = std::fopen((dir_.path() / rel).c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return rel;
  }
  std::filesystem::path WriteFile(const std::string& name, const Bytes& bytes) {
    return WriteFile(name, std::string(bytes.begin(), bytes.end()));
  }
  const std::filesystem::path& Dir() const { return dir_.path(); }

 private:
  TempDir dir_;
};

}  // namespace ab::test
