#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "tables/table_file_writer.h"
#include "web/base_client_table.h"

namespace ab {
namespace {

FieldData Numbers(std::string name, uint8_t type, std::vector<int64_t> v, int32_t width = 0) {
  FieldData f;
  f.Name = std::move(name);
  f.Type = type;
  f.Width = width;
  f.Numbers = std::move(v);
  return f;
}

FieldData Texts(std::string name, uint8_t type, int32_t width,
                std::vector<std::optional<std::string>> texts) {
  FieldData f = Numbers(std::move(name), type, {}, width);
  f.Texts = std::move(texts);
  return f;
}

// Three rows; some columns are shorter than the table, so reads past their end are covered.
TableData Sample() {
  FieldData single = Numbers("single", 6, {});
  single.Reals = {1.5, -2.25};
  FieldData dbl = Numbers("dbl", 7, {});
  dbl.Reals = {0.1, 3};
  FieldData date = Numbers("date", 9, {});
  date.Reals = {45356.5, 0, 1};
  TableData t;
  t.Name = "object";
  t.RowCount = 3;
  t.Fields = {Numbers("n_abs", 1, {7, 8, 9}),
              Numbers("p_d", 3, {0, 0, 0}),
              Texts("short", 2, 8, {"abc", "", "1234567"}),
              Texts("longslot", 2, 4, {"toolong", "x"}),  // cut to the slot
              Texts("pool", 24, 0, {"\xc0\xc1 \"q\"", std::nullopt, ""}),
              Texts("raw", 11, 3, {std::string("\x20\x40\x01", 3), std::string("\0\xff", 2)}),
              Numbers("word", 5, {65535, 2}),
              Numbers("card", 8, {4000000000, 1, 2}),
              Numbers("r_dt", 8, {762962829, 0, 86400}),
              Numbers("big", 13, {-5, 1LL << 40}),
              Numbers("hex", 21, {0x7f01, 255}),
              Numbers("secs", 25, {60, 0, 3600}),
              single,
              dbl,
              date,
              Numbers("flag", 4, {1, 0, 1})};
  return t;
}

// Every way of positioning: view rows inside and outside the view, physical rows inside and
// beyond the table, the cursor.
void ExpectViewsMatchCopies(TBaseClient& table) {
  BaseClientTable view(table);
  auto fields = static_cast<int32_t>(table.Fields.size());
  std::vector<std::function<void()>> positions = {
      [&] { view.SelectViewRow(1); },     [&] { view.SelectViewRow(3); },
      [&] { view.SelectViewRow(0); },     [&] { view.SelectPhysicalRow(2); },
      [&] { view.SelectPhysicalRow(0); }, [&] { view.SelectPhysicalRow(5); },
      [&] { view.SetRecordIndex(2); }};
  for (size_t p = 0; p < positions.size(); ++p) {
    for (int32_t f = 0; f <= fields + 1; ++f) {
      positions[p]();
      std::string expected = view.AsString(f);
      Bytes bytes = view.AsBytes(f);
      positions[p]();
      std::string scratch = "stale";
      EXPECT_EQ(view.StringView(f, scratch), expected) << "position " << p << " field " << f;
      for (size_t i = 0; i < bytes.size() + 2; ++i) {
        positions[p]();
        EXPECT_EQ(view.ByteAt(f, i), i < bytes.size() ? bytes[i] : 0)
            << "position " << p << " field " << f << " byte " << i;
      }
    }
  }
}

TEST(TableViewsTest, RawFormViewsEqualTheCopies) {
  test::TempDir dir;
  TBaseClient t(dir.path());
  t.NameTable = "object";
  t.RawFile = true;
  ASSERT_EQ(t.LoadRawImage(BuildRawTable(Sample())), TableLoadResult::kLoaded);
  ExpectViewsMatchCopies(t);
}

// Length bytes beyond their slot or beyond the pool, as a damaged change record could leave
// them: the views are cut where the copies are.
TEST(TableViewsTest, OverlongLengthBytesAreCutLikeTheCopies) {
  test::TempDir dir;
  TBaseClient t(dir.path());
  t.NameTable = "object";
  t.RawFile = true;
  ASSERT_EQ(t.LoadRawImage(BuildRawTable(Sample())), TableLoadResult::kLoaded);
  FieldGFB& slot = *t.Fields[2];  // "short", width 8
  ASSERT_GE(slot.Data.Bytes.size(), 24u);
  slot.Data.Bytes[16] = 200;
  FieldGFB& pool = *t.Fields[4];
  ASSERT_FALSE(pool.Data.Ints.empty());
  pool.Data.Bytes[static_cast<size_t>(pool.Data.Ints[0])] = 250;
  ExpectViewsMatchCopies(t);
}

TEST(TableViewsTest, TextFormViewsEqualTheCopies) {
  test::TempDir dir;
  TBaseClient t(dir.path());
  t.NameTable = "object";
  t.LoadTableData(BuildTextTable(Sample()));
  ASSERT_GT(t.RowCount(), 0);
  ExpectViewsMatchCopies(t);
}

TEST(TableViewsTest, EmptyTableGivesTheNotFoundText) {
  test::TempDir dir;
  TBaseClient t(dir.path());
  TableData data = Sample();
  data.RowCount = 0;
  for (auto& f : data.Fields) f.Block = false;
  t.NameTable = "object";
  t.RawFile = true;
  ASSERT_EQ(t.LoadRawImage(BuildRawTable(data)), TableLoadResult::kLoaded);
  ExpectViewsMatchCopies(t);
  BaseClientTable view(t);
  std::string scratch;
  view.SelectPhysicalRow(1);
  EXPECT_EQ(view.StringView(3, scratch), kRecordNotFound);
}

}  // namespace
}  // namespace ab
