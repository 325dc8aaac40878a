// The optional steps of the view rebuild: filter conditions, master/slave and sort.

#include <gtest/gtest.h>

#include "table_fixture.h"

namespace ab::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class ViewRebuildTest : public TableTest {};

TEST_F(ViewRebuildTest, SortsIntegersNumerically) {
  auto t = Load(MakeTable("t", {1, 2, 3, 4}, {0, 0, 1, 0}, {IntField("k", {300, 5, 1, 40})}));
  t->Sort = "k";
  t->SetSorted(true);
  EXPECT_THAT(t->View(), ElementsAre(2, 4, 1));
  EXPECT_EQ(t->CurrentRow(), 4);  // the last kept physical row
}

TEST_F(ViewRebuildTest, SortPadsShortTextsWithZeros) {
  // "abc" becomes "00000abc" and so sorts before the 9-letter text.
  auto t = Load(MakeTable("t", {1, 2, 3}, {0, 0, 0},
                          {TextField("s", 24, 4, {"zebrafish", "abc", "Abcdefghi"})}));
  t->Sort = "s";
  t->SetSorted(true);
  EXPECT_THAT(t->View(), ElementsAre(2, 3, 1));
}

TEST_F(ViewRebuildTest, Type2SortIsUnpaddedAndCaseInsensitive) {
  auto t = Load(MakeTable("t", {1, 2, 3}, {0, 0, 0}, {TextField("s", 2, 12, {"b", "Ab", "aa"})}));
  t->Sort = "s";
  t->SetSorted(true);
  EXPECT_THAT(t->View(), ElementsAre(3, 2, 1));
}

TEST_F(ViewRebuildTest, UnknownSortFieldTurnsSortingOff) {
  auto t = Load(MakeTable("t", {2, 1}, {0, 0}));
  t->Sort = "missing";
  t->SetSorted(true);
  EXPECT_FALSE(t->Sorted());
  EXPECT_THAT(t->View(), ElementsAre(1, 2));
}

TEST_F(ViewRebuildTest, FilterOperModesCombineConditions) {
  auto t = Load(MakeTable("t", {1, 2, 3, 4}, {0, 0, 0, 0},
                          {IntField("a", {1, 1, 2, 2}), IntField("b", {5, 6, 5, 6})}));
  t->Fields[2]->SetFilterText("a=1");
  t->Fields[2]->FilterValueInt = 1;
  t->Fields[3]->SetFilterText("b=5");
  t->Fields[3]->FilterValueInt = 5;
  struct Case {
    uint8_t oper;
    std::vector<int32_t> view;
  };
  for (const Case& c : {Case{0, {1}}, Case{1, {1, 2, 3}}, Case{2, {1, 2, 3, 4}}}) {
    t->FilterOper = c.oper;
    t->SetFiltered(true);
    EXPECT_THAT(t->View(), ElementsAreArray(c.view)) << "FilterOper " << int{c.oper};
  }
  t->SetFiltered(false);
  EXPECT_EQ(t->Count(), 4);
}

TEST_F(ViewRebuildTest, IntegerAndByteOperators) {
  auto t = Load(MakeTable("t", {1, 2, 3}, {0, 0, 0},
                          {IntField("a", {-1, 0, 1}), IntField("u", {10, 200, 255}, 3)}));
  struct Case {
    int field;
    uint8_t op;
    std::vector<int32_t> view;
  };
  const Case cases[] = {{2, 0, {2}},    {2, 1, {1, 3}},    {2, 2, {1}}, {2, 3, {3}}, {2, 4, {1, 2}},
                        {2, 5, {2, 3}}, {2, 6, {1, 2, 3}}, {3, 3, {3}}, {3, 2, {1}}};
  for (const Case& c : cases) {
    for (auto& f : t->Fields) f->SetFilterText("");
    FieldGFB& f = *t->Fields[static_cast<size_t>(c.field)];
    f.SetFilterText("on");
    f.FilterOperator = c.op;
    f.FilterValueInt = 0;
    f.FilterValueByte = 200;  // unsigned: 255 > 200 > 10
    t->SetFiltered(true);
    EXPECT_THAT(t->View(), ElementsAreArray(c.view)) << "field " << c.field << " op " << int{c.op};
  }
}

TEST_F(ViewRebuildTest, TextFilterModes) {
  auto t =
      Load(MakeTable("t", {1, 2, 3}, {0, 0, 0}, {TextField("s", 2, 16, {"Alpha", "beta", "al"})}));
  FieldGFB& f = *t->Fields[2];
  f.SetFilterText("on");
  struct Case {
    uint8_t op, mode;
    std::string value;
    std::vector<int32_t> view;
  };
  const Case cases[] = {
      {0, 0, "lph", {1}},
      {0, 1, "ta", {2}},
      {0, 2, "al", {1, 3}},
      {0, 3, "al", {3}},
      {1, 3, "al", {1, 2}},
      {0, 0, "", {}},
      {1, 0, "", {1, 2, 3}},
      // "al" is shorter than "pha": no match for 0, a match for 1.
      {0, 1, "pha", {1}},
      {1, 1, "pha", {2, 3}},
      {2, 0, "alpha", {3}},
      {3, 0, "al", {1, 2}},
      {4, 0, "alpha", {1, 3}},
      {5, 0, "b", {2}},
      {0, 7, "x", {1, 2, 3}},
  };
  for (const Case& c : cases) {
    f.FilterOperator = c.op;
    f.FilterMode = c.mode;
    f.FilterValueText = c.value;
    t->SetFiltered(true);
    EXPECT_THAT(t->View(), ElementsAreArray(c.view))
        << "op " << int{c.op} << " mode " << int{c.mode} << " '" << c.value << "'";
  }
}

TEST_F(ViewRebuildTest, SlaveFollowsMasterCursorOnRebuildOnly) {
  auto master = Load(MakeTable("m", {1, 2}, {0, 0}, {IntField("id", {10, 20})}));
  auto slave = Load(MakeTable("s", {1, 2, 3}, {0, 0, 0}, {IntField("ref", {20, 10, 20})}));
  master->SetRecordIndex(2);
  slave->SetMasterField("id");
  slave->SetSlaveField("ref");
  slave->SetMasterTable(master.get());
  EXPECT_THAT(slave->View(), ElementsAre(1, 3));
  master->SetRecordIndex(1);
  EXPECT_THAT(slave->View(), ElementsAre(1, 3));
  slave->Refresh();
  EXPECT_THAT(slave->View(), ElementsAre(2));
  slave->SetSlaveField("absent");  // a missing field drops nothing
  EXPECT_EQ(slave->Count(), 3);
}

TEST_F(ViewRebuildTest, MasterValueThatIsNoNumberRestrictsNothing) {
  auto master = Load(MakeTable("m", {1}, {0}, {TextField("id", 24, 4, {"x"})}));
  auto slave = Load(MakeTable("s", {1, 2}, {0, 0}, {IntField("ref", {1, 2})}));
  master->SetRecordIndex(1);
  slave->SetMasterField("id");
  slave->SetSlaveField("ref");
  EXPECT_NO_THROW(slave->SetMasterTable(master.get()));
  EXPECT_EQ(slave->Count(), 2);
}

}  // namespace
}  // namespace ab::test
