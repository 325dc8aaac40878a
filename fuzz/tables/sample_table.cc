#include "sample_table.h"

namespace ab::fuzz {

namespace {

FieldData Field(const char* name, uint8_t type, int32_t width = 0) {
  FieldData f;
  f.Name = name;
  f.Type = type;
  f.Width = width;
  return f;
}

}  // namespace

TableData SampleTable() {
  TableData t;
  t.Name = "object";
  t.RowCount = 3;
  FieldData n = Field("n_abs", 1);
  n.Numbers = {10, 11, 12};
  FieldData pd = Field("p_d", 3);
  pd.Numbers = {0, 1, 0};
  FieldData s = Field("s", 2, 8);
  s.Texts = {"12", "ab", "3.5"};
  FieldData raw = Field("x", 11, 3);
  raw.Texts = {"abc", "", "z"};
  FieldData c15 = Field("c15", 15);
  c15.TextWidth = 8;
  c15.Numbers = {1, 2, 0};
  c15.Dictionary = {{1, "one"}, {2, "two"}};
  FieldData c16 = Field("c16", 16);
  c16.TextWidth = 8;
  c16.Numbers = {1, 0, 1};
  c16.Dictionary = {{1, "uno"}};
  FieldData pool = Field("m", 24);
  pool.Texts = {"7", std::nullopt, "text"};
  t.Fields = {n, pd, s, raw, c15, c16, pool};
  for (uint8_t type : {4, 5, 6, 7, 8, 9, 13, 21, 25}) {
    FieldData f = Field(("t" + std::to_string(type)).c_str(), type);
    f.Numbers = {1, -1, 300};
    f.Reals = {0.5, -1e10, 36526.25};
    t.Fields.push_back(f);
  }
  return t;
}

}  // namespace ab::fuzz
