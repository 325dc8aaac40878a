// Row changes, deletions and the load request.

#include <gtest/gtest.h>

#include "table_fixture.h"

namespace ab::test {
namespace {

using ::testing::ElementsAre;

TableData Base() {
  FieldData coded = IntField("c", {3, 3}, 15);
  coded.TextWidth = 10;
  coded.Dictionary = {{3, "three"}};
  return MakeTable("t", {10, 11}, {0, 0},
                   {IntField("v", {100, 200}), TextField("s", 2, 8, {"aa", "bb"}), coded,
                    TextField("m", 24, 4, {"xy", std::nullopt})});
}

class RowChangeTest : public TableTest {
 protected:
  void SetUp() override { t_ = Load(Base()); }
  bool Apply(int32_t row, int32_t rows, const std::vector<ChangeEntry>& entries) {
    bool ok = t_->ApplyRowChange(row, BuildRowChange("t", row, rows, entries));
    t_->Refresh();
    return ok;
  }
  std::unique_ptr<TBaseClient> t_;
};

TEST_F(RowChangeTest, NewRowGrowsEveryColumnAndJoinsTheView) {
  ASSERT_TRUE(Apply(2, 3, {{"n_abs", IntValue(12, 4)}, {"v", IntValue(300, 4)}}));
  EXPECT_EQ(t_->RowCount(), 3);
  for (const auto& f : t_->Fields) {
    SCOPED_TRACE(f->FieldName);
    size_t expected = f->FieldType == 2 ? 3 * 8u : 3u;
    size_t got = f->FieldType == 1 || f->FieldType == 24 ? f->Data.Ints.size()
                 : f->FieldType == 15                    ? f->Data.Words.size()
                                                         : f->Data.Bytes.size();
    EXPECT_EQ(got, expected);
  }
  EXPECT_THAT(t_->View(), ElementsAre(1, 2, 3));
  EXPECT_EQ(t_->FieldByNameAt("v", 3)->AsInteger(), 300);
  EXPECT_EQ(t_->FieldByNameAt("s", 3)->AsString(), "");
  EXPECT_EQ(t_->FieldByNameAt("m", 3)->AsString(), "");  // not the pool's first text
  EXPECT_EQ(t_->Fields[5]->Data.Ints[2], -1);
  EXPECT_EQ(t_->RowOfNumber(12), 3);
}

TEST_F(RowChangeTest, RowsBetweenAreAddedAsZeros) {
  ASSERT_TRUE(Apply(4, 5, {{"n_abs", IntValue(14, 4)}}));
  EXPECT_EQ(t_->Fields[0]->Data.Ints, (std::vector<int32_t>{10, 11, 0, 0, 14}));
  EXPECT_EQ(t_->Count(), 5);
}

TEST_F(RowChangeTest, NamedFieldChangesAloneAndOthersKeepTheirValues) {
  ASSERT_TRUE(Apply(0, 2, {{"s", SlotValue("new", 8)}}));
  EXPECT_EQ(t_->FieldByNameAt("s", 1)->AsString(), "new");
  EXPECT_EQ(t_->FieldByNameAt("v", 1)->AsInteger(), 100);
  EXPECT_EQ(t_->FieldByNameAt("c", 1)->AsString(), "three");
  EXPECT_EQ(t_->FieldByNameAt("s", 2)->AsString(), "bb");
}

TEST_F(RowChangeTest, CodedTextUpdatesTheDictionary) {
  // An existing code replaces the text for every row using it.
  ASSERT_TRUE(Apply(0, 2, {{"c", CodedValue(3, 2, "THREE", 10)}}));
  EXPECT_EQ(t_->FieldByNameAt("c", 2)->AsString(), "THREE");
  // A new code appends an entry; code 0 appends nothing.
  ASSERT_TRUE(Apply(1, 2, {{"c", CodedValue(7, 2, "seven", 10)}}));
  ASSERT_TRUE(Apply(0, 2, {{"c", CodedValue(0, 2, "zero", 10)}}));
  const FieldGFB& c = *t_->Fields[4];
  EXPECT_EQ(c.Data.Cardinals, (std::vector<uint32_t>{3, 7}));
  EXPECT_EQ(c.Data.Strings, (std::vector<std::string>{"THREE", "seven"}));
  EXPECT_EQ(t_->FieldByNameAt("c", 2)->AsString(), "seven");
  EXPECT_EQ(t_->FieldByNameAt("c", 1)->AsString(), "");
}

TEST_F(RowChangeTest, PoolTextChanges) {
  // Pool "\x02xy" grows to 8 bytes with "abc" at offset 3.
  ASSERT_TRUE(Apply(1, 2, {{"m", PoolValue(8, 3, "abc")}}));
  EXPECT_EQ(t_->FieldByNameAt("m", 2)->AsString(), "abc");
  EXPECT_EQ(t_->FieldByNameAt("m", 1)->AsString(), "xy");
  // A text that does not fit is consumed and skipped; the entry after it still applies.
  ASSERT_TRUE(Apply(0, 2, {{"m", PoolValue(8, 6, "long")}, {"v", IntValue(5, 4)}}));
  EXPECT_EQ(t_->FieldByNameAt("v", 1)->AsInteger(), 5);
  EXPECT_EQ(t_->Fields[5]->Data.Ints[0], 6);
  // Offset -1 stores -1 and carries no text.
  ASSERT_TRUE(Apply(0, 2, {{"m", PoolValue(8, -1, "")}, {"v", IntValue(6, 4)}}));
  EXPECT_EQ(t_->FieldByNameAt("m", 1)->AsString(), "");
  EXPECT_EQ(t_->Fields[5]->Data.Ints[0], -1);
  EXPECT_EQ(t_->FieldByNameAt("v", 1)->AsInteger(), 6);
}

TEST_F(RowChangeTest, NotPresentFieldConsumesItsBytes) {
  TableData d = Base();
  d.Fields[2].Block = false;  // v
  t_ = Load(d);
  ASSERT_TRUE(Apply(0, 2, {{"v", IntValue(9, 4)}, {"s", SlotValue("z", 8)}}));
  EXPECT_TRUE(t_->Fields[2]->Data.Ints.empty());
  EXPECT_EQ(t_->FieldByNameAt("s", 1)->AsString(), "z");
}

TEST_F(RowChangeTest, MalformedRecordsAreDroppedWhole) {
  auto with_tail = [](Bytes b, Bytes tail) {
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  const Bytes v = BuildRowChange("t", 0, 2, {{"v", IntValue(1, 4)}});
  Bytes no_length = BuildRowChange("t", 0, 2, {{"m", PoolValue(8, 0, "")}});
  no_length.pop_back();  // the text's length byte
  struct Case {
    const char* name;
    int32_t row;
    Bytes record;
  };
  const Case cases[] = {
      {"short head", 0, Bytes(v.begin(), v.begin() + 16)},
      {"negative row", -1, v},
      {"negative row count", 0, BuildRowChange("t", 0, -1, {{"v", IntValue(1, 4)}})},
      {"absurd row count", 5, BuildRowChange("t", 5, 0x7fffffff, {{"v", IntValue(1, 4)}})},
      {"growth beyond cap", 2,
       BuildRowChange("t", 2, 2 + kMaxRowGrowth + 1, {{"v", IntValue(1, 4)}})},
      {"unknown field", 0,
       BuildRowChange("t", 0, 2, {{"v", IntValue(1, 4)}, {"zz", IntValue(1, 4)}})},
      {"value past end", 0, Bytes(v.begin(), v.end() - 1)},
      {"name past end", 0, with_tail(v, {1, 'v', 0})},
      {"absurd pool", 0, BuildRowChange("t", 0, 2, {{"m", PoolValue(0x7fffffff, -1, "")}})},
      {"pool text past end", 0, no_length},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    t_ = Load(Base());
    EXPECT_FALSE(t_->ApplyRowChange(c.row, c.record));
    EXPECT_EQ(t_->RowCount(), 2);
    EXPECT_EQ(t_->Fields[2]->Data.Ints, (std::vector<int32_t>{100, 200}));
    EXPECT_EQ(t_->Fields[5]->Data.Bytes.size(), 3u);
  }
  // A single trailing byte is not an entry.
  EXPECT_TRUE(t_->ApplyRowChange(0, with_tail(v, {0})));
  EXPECT_EQ(t_->Fields[2]->Data.Ints[0], 1);
}

TEST_F(RowChangeTest, RowCountThatDoesNotCoverTheRowGrowsNothing) {
  EXPECT_TRUE(t_->ApplyRowChange(5, BuildRowChange("t", 5, 1, {{"v", IntValue(1, 4)}})));
  EXPECT_EQ(t_->Fields[2]->Data.Ints, (std::vector<int32_t>{100, 200}));
  t_->Refresh();
  EXPECT_EQ(t_->Count(), 1);  // RowCount 1 is taken; the columns keep their data
  EXPECT_TRUE(t_->ApplyRowChange(1, BuildRowChange("t", 1, 2, {})));
  t_->Refresh();
  EXPECT_EQ(t_->FieldByNameAt("v", 2)->AsInteger(), 200);
}

TEST_F(RowChangeTest, TableWithoutFieldsTakesOnlyTheRowCount) {
  auto t = Empty("t");
  EXPECT_TRUE(t->ApplyRowChange(0, BuildRowChange("t", 0, 1, {})));
  EXPECT_EQ(t->RowCount(), 1);
  EXPECT_FALSE(t->ApplyRowChange(0, BuildRowChange("t", 0, 1, {{"v", IntValue(1, 4)}})));
}

TEST_F(RowChangeTest, MarkDeleted) {
  EXPECT_TRUE(t_->MarkDeleted(11));
  EXPECT_EQ(t_->Fields[1]->Data.Bytes[1], 1);
  t_->Refresh();
  EXPECT_EQ(t_->Count(), 1);
  EXPECT_EQ(t_->RowOfNumber(11), 0);
  EXPECT_FALSE(t_->MarkDeleted(99));
  EXPECT_EQ(t_->Fields[1]->Data.Bytes, (std::vector<uint8_t>{0, 1}));
  auto empty = Empty("t");
  EXPECT_FALSE(empty->MarkDeleted(1));
}

TEST_F(RowChangeTest, LoadRequestOncePerRegistration) {
  TBaseC tables;
  AddTable(tables, Dir(), "otvl", "", "", false, false);
  TBaseClient& t = *tables[0];
  EXPECT_EQ(
      t.BuildLoadRequest(),
      R"({"$c$":"database","command":"gettableraw","refresh":1,"name":"otvl","md5":{},"filter":{}})");
  EXPECT_TRUE(t.RequestBuilt);
  EXPECT_EQ(t.BuildLoadRequest(), "");
  AddTable(tables, Dir(), "otvl", "a", "\"k\":\"v\"", false, false);
  EXPECT_EQ(
      t.BuildLoadRequest(),
      R"({"$c$":"database","command":"gettableraw","refresh":1,"name":"otvl","fields":{"n_abs":"1","p_d":"1","a":"1"},"md5":{},"filter":{"k":"v"}})");
  t.RequestBuilt = false;
  t.Loaded = true;
  EXPECT_EQ(t.BuildLoadRequest(), "");
}

}  // namespace
}  // namespace ab::test
