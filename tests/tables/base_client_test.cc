#include "tables/base_client.h"

#include <gtest/gtest.h>

#include "table_fixture.h"

namespace ab::test {
namespace {

using ::testing::ElementsAre;

class BaseClientTest : public TableTest {};

TEST_F(BaseClientTest, NewTable) {
  auto t = Empty("x");
  EXPECT_EQ(t->Count(), 0);
  EXPECT_EQ(t->MaxNumberFileds(), -1);
  EXPECT_EQ(t->RecordIndex(), 1);
  EXPECT_EQ(t->FieldByNumberAt(1, 1), nullptr);
  EXPECT_EQ(AsString(t->FieldByNumberAt(1, 1)), "");
  EXPECT_TRUE(t->DataChanged);
  EXPECT_FALSE(t->Loaded);
  EXPECT_TRUE(std::filesystem::is_directory(Dir() / "temp"));
}

TEST_F(BaseClientTest, DeletedRowLeavesViewAndNumberIndex) {
  auto t = Load(MakeTable("t", {10, 11, 12}, {0, 1, 0}, {IntField("v", {100, 200, 300})}));
  EXPECT_THAT(t->View(), ElementsAre(1, 3));
  EXPECT_EQ(t->Count(), 2);
  EXPECT_EQ(t->FieldByNumberAt(3, 2)->AsInteger(), 300);
  EXPECT_EQ(t->CurrentRow(), 3);
  EXPECT_EQ(t->NumberMin(), 10);
  EXPECT_EQ(t->NumberMax(), 12);
  EXPECT_THAT(t->NumberIndex(), ElementsAre(1, 0, 3));
  EXPECT_EQ(t->RowOfNumber(11), 0);
  EXPECT_EQ(t->RowOfNumber(12), 3);
  EXPECT_EQ(t->RowOfNumber(13), 0);
}

TEST_F(BaseClientTest, AllRowsDeleted) {
  auto t = Load(MakeTable("t", {5, 6}, {1, 1}));
  EXPECT_EQ(t->Count(), 0);
  EXPECT_EQ(t->CurrentRow(), -1);
  EXPECT_EQ(t->Fields[0]->AsString(), kRecordNotFound);
  EXPECT_EQ(t->NumberMin(), 0);
  EXPECT_THAT(t->NumberIndex(), ElementsAre(0));
}

TEST_F(BaseClientTest, PositionOutsideViewKeepsPreviousRow) {
  auto t = Load(MakeTable("t", {1, 2, 3}, {0, 0, 0}, {IntField("v", {7, 8, 9})}));
  EXPECT_EQ(t->FieldByNumberAt(3, 2)->AsInteger(), 8);
  FieldGFB* f = t->FieldByNumberAt(3, 4);  // length of View + 1
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->AsInteger(), 8);
  EXPECT_EQ(t->FieldByNameAt("v", 0)->AsInteger(), 8);
  EXPECT_EQ(t->FieldByNumberAt(0, 1), nullptr);
  EXPECT_EQ(t->FieldByNumberAt(4, 1), nullptr);
  EXPECT_EQ(t->FieldAtRow(4, 1), nullptr);
}

TEST_F(BaseClientTest, RecordIndexSelectsCursorRow) {
  auto t = Load(MakeTable("t", {1, 2, 3}, {0, 1, 0}, {IntField("v", {7, 8, 9})}));
  t->SetRecordIndex(0);
  EXPECT_EQ(t->RecordIndex(), 1);
  EXPECT_EQ(t->CursorRow(), 1);
  t->SetRecordIndex(2);
  EXPECT_EQ(t->CursorRow(), 3);
  EXPECT_EQ(t->FieldByName("v")->AsInteger(), 9);
  t->FieldAtRow(3, 1);
  EXPECT_EQ(t->FieldByName("v")->AsInteger(), 9);  // back on the cursor row
  t->SetRecordIndex(3);                            // beyond the view: ignored
  EXPECT_EQ(t->RecordIndex(), 2);
  EXPECT_EQ(t->CursorRow(), 3);
}

TEST_F(BaseClientTest, RebuildKeepsIndexExactWhetherTheNumberRangeMovesOrNot) {
  auto t = Load(MakeTable("t", {10, 11, 12, 13}, {0, 0, 0, 0}));
  t->MarkDeleted(11);  // same range: the old entry must not survive
  t->Refresh();
  EXPECT_THAT(t->NumberIndex(), ElementsAre(1, 0, 3, 4));
  t->MarkDeleted(13);  // the range shrinks
  t->Refresh();
  EXPECT_EQ(t->NumberMax(), 12);
  EXPECT_THAT(t->NumberIndex(), ElementsAre(1, 0, 3));
  t->MarkDeleted(10);
  t->MarkDeleted(12);
  t->Refresh();
  EXPECT_THAT(t->NumberIndex(), ElementsAre(0));
  EXPECT_EQ(t->RowOfNumber(12), 0);
}

TEST_F(BaseClientTest, SameRecordNumberTwiceMapsToLaterRow) {
  auto t = Load(MakeTable("t", {4, 4, 5}, {0, 0, 0}));
  EXPECT_EQ(t->RowOfNumber(4), 2);
}

TEST_F(BaseClientTest, RefreshNeedsTwoFieldsWithFlags) {
  TableData one;
  one.Name = "t";
  one.RowCount = 2;
  one.Fields.push_back(IntField("n_abs", {1, 2}));
  auto t = Empty("t");
  int refreshed = 0;
  t->OnRefresh = [&](TBaseClient&) { ++refreshed; };
  t->LoadRawImage(BuildRawTable(one));
  EXPECT_EQ(refreshed, 0);
  EXPECT_TRUE(t->View().empty());
  EXPECT_EQ(t->Count(), 2);  // set by the load, not by a rebuild

  auto u = Load(MakeTable("t", {1}, {0}));
  u->OnRefresh = [&](TBaseClient&) { ++refreshed; };
  u->Refresh();
  EXPECT_EQ(refreshed, 1);
}

TEST_F(BaseClientTest, RecordNumbersBeyondTwentyFourBitsGiveNoIndex) {
  auto t = Load(MakeTable("t", {-2000000000, 2000000000}, {0, 0}));
  EXPECT_EQ(t->Count(), 2);
  EXPECT_TRUE(t->NumberIndex().empty());
  EXPECT_EQ(t->RowOfNumber(2000000000), 0);
  // The largest span that is still indexed: 0 .. FFFFFF.
  auto u = Load(MakeTable("t", {0, 16777215}, {0, 0}));
  EXPECT_EQ(u->NumberIndex().size(), size_t{1} << 24);
  EXPECT_EQ(u->RowOfNumber(16777215), 2);
}

TEST_F(BaseClientTest, AddFieldKeepsFirstDescriptor) {
  auto t = Empty("t");
  FieldDescriptor a{1, "name", 2, 10, 0, 0};
  FieldDescriptor b{2, "name", 1, 4, 7, 0};
  EXPECT_EQ(t->AddField(a), 0);
  EXPECT_EQ(t->AddField(b), 0);
  EXPECT_EQ(t->Fields[0]->Width, 10);
  EXPECT_EQ(t->Fields[0]->FieldType, 2);
  FieldDescriptor longer{3, "abcdefghijklmnopqrst", 1, 4, 0, 0};
  EXPECT_EQ(t->AddField(longer), 1);
  EXPECT_EQ(t->Fields[1]->FieldName, "abcdefghijklmno");
  // A type-0 field is found by number but not by name.
  FieldDescriptor none{4, "gap", 0, 0, 0, 0};
  t->AddField(none);
  EXPECT_EQ(t->FieldByName("gap"), nullptr);
  EXPECT_NE(t->FieldByNumberAt(3, 1), nullptr);
}

TEST_F(BaseClientTest, ClearDropsFieldsAndRowsButKeepsView) {
  auto t = Load(MakeTable("t", {1, 2}, {0, 0}));
  t->Clear();
  EXPECT_EQ(t->RowCount(), 0);
  EXPECT_EQ(t->Count(), 0);
  EXPECT_TRUE(t->Fields.empty());
  EXPECT_THAT(t->View(), ElementsAre(1, 2));
  EXPECT_EQ(t->FieldByName("n_abs"), nullptr);
}

TEST_F(BaseClientTest, CountWriteAndFlagRefresh) {
  auto t = Empty("t");
  t->SetCount(5);
  EXPECT_EQ(t->RowCount(), 5);
  EXPECT_EQ(t->Count(), 5);
  t->SetFlagRefresh(true);
  EXPECT_TRUE(t->FlagRefresh());
  t->DataChanged = false;
  t->SetFlagRefresh(false);
  EXPECT_TRUE(t->FlagRefresh());
}

TEST_F(BaseClientTest, AddTableFindsOrAppendsAndArms) {
  TBaseC tables;
  EXPECT_EQ(AddTable(tables, Dir(), "mesmaps", "", "", false, false), 0);
  EXPECT_EQ(AddTable(tables, Dir(), "otvl", "*", "", false, false), 1);
  EXPECT_EQ(tables[1]->ComponentName, "base1");
  EXPECT_EQ(tables[1]->FieldsRequest, "");
  EXPECT_EQ(tables[1]->FilterRequest, "{}");
  tables[0]->Loaded = true;
  tables[0]->RequestBuilt = true;
  tables[0]->ExpectedFile = "f.dat";
  EXPECT_EQ(AddTable(tables, Dir(), "mesmaps", "a,b", "\"x\":1", true, true), 0);
  EXPECT_EQ(tables.size(), 2u);
  EXPECT_FALSE(tables[0]->Loaded);
  EXPECT_FALSE(tables[0]->RequestBuilt);
  EXPECT_EQ(tables[0]->ExpectedFile, "");
  EXPECT_EQ(tables[0]->FieldsRequest, R"({"n_abs":"1","p_d":"1","a":"1","b":"1"})");
  EXPECT_EQ(tables[0]->FilterRequest, R"({"x":1})");
  EXPECT_TRUE(std::filesystem::is_directory(Dir() / "temp" / "mesmaps"));
  EXPECT_TRUE(std::filesystem::is_directory(Dir() / "arh" / "mesmaps"));
  // Names already listed are not added again.
  AddTable(tables, Dir(), "otvl", "p_d,n_abs,c", "", false, false);
  EXPECT_EQ(tables[1]->FieldsRequest, R"({"p_d":"1","n_abs":"1","c":"1"})");
  // Exact, case-sensitive names.
  EXPECT_EQ(AddTable(tables, Dir(), "OTVL", "", "", false, false), 2);
}

}  // namespace
}  // namespace ab::test
