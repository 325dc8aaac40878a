#include "tables/field_gfb.h"

#include <gtest/gtest.h>

#include "table_fixture.h"
#include "tables/conversion_error.h"

namespace ab::test {
namespace {

FieldData Coded(std::string name, uint8_t type, std::vector<int64_t> codes,
                std::vector<std::pair<uint32_t, std::string>> dict) {
  FieldData f = IntField(std::move(name), std::move(codes), type);
  f.TextWidth = 20;
  f.Dictionary = std::move(dict);
  return f;
}

// Two rows holding one value of every column type.
TableData AllTypes() {
  return MakeTable("all", {1, 2}, {0, 0},
                   {IntField("i1", {-42, 7}), TextField("s2", 2, 10, {"123", "abc"}),
                    IntField("b3", {200, 0}, 3), IntField("t4", {5, 0}, 4),
                    IntField("w5", {65535, 1}, 5), RealField("f6", 6, {0.1, -2.7}),
                    RealField("d7", 7, {1234.5, 1e20}), IntField("c8", {4294967295, 12}, 8),
                    IntField("r_dt", {86400 + 3661, 0}, 8), RealField("dt9", 9, {36526.5, 0}),
                    TextField("x11", 11, 3, {std::string("\x01\x00\xff", 3), ""}),
                    IntField("l13", {-9000000000, 0}, 13), IntField("h21", {255, -1}, 21),
                    TextField("p24", 24, 4, {"77", std::nullopt}), IntField("s25", {86400, 59}, 25),
                    Coded("c15", 15, {3, 9}, {{3, "three"}, {4, "four"}}),
                    Coded("c16", 16, {0, 4}, {{4, "vier"}})});
}

class FieldGFBTest : public TableTest {};

TEST_F(FieldGFBTest, RendersEveryTypeAsTextAndInteger) {
  auto t = Load(AllTypes());
  struct Case {
    const char* field;
    int32_t row;
    std::string text;
    int32_t integer;
  };
  const Case cases[] = {
      {"i1", 1, "-42", -42},
      {"s2", 1, "123", 123},
      {"s2", 2, "abc", 0},
      {"b3", 1, "200", 200},
      {"t4", 1, "T", 1},
      {"t4", 2, "F", 0},
      {"w5", 1, "65535", 65535},
      {"f6", 1, "0.100000001490116", 0},
      {"f6", 2, "-2.70000004768372", -2},
      {"d7", 1, "1234.5", 1234},
      {"d7", 2, "1E20", 2147483647},
      {"c8", 1, "4294967295", -1},
      {"r_dt", 1, "02.01.2000 01:01:01", 90061},
      {"dt9", 1, "01.01.2000 12:00:00", 36526},
      {"dt9", 2, "", 0},
      {"x11", 1, "1 0 255 ", 0},
      {"l13", 1, "-9000000000", 0},
      {"h21", 1, "00FF", 0},
      {"h21", 2, "FFFFFFFF", 0},
      {"p24", 1, "77", 77},
      {"p24", 2, "", 0},
      {"s25", 1, "02.01.2000", 0},
      {"s25", 2, "01.01.2000 00:00:59", 0},
      {"c15", 1, "three", 3},
      {"c15", 2, "", 9},
      {"c16", 1, "", 0},
      {"c16", 2, "vier", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " row " + std::to_string(c.row));
    FieldGFB* f = t->FieldByNameAt(c.field, c.row);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->AsString(), c.text);
    EXPECT_EQ(f->AsInteger(), c.integer);
  }
}

TEST_F(FieldGFBTest, FloatDateCardinalAndBytesAccessors) {
  auto t = Load(AllTypes());
  EXPECT_FLOAT_EQ(t->FieldByNameAt("s2", 1)->AsFloat(), 123.0f);
  EXPECT_FLOAT_EQ(t->FieldByNameAt("d7", 1)->AsFloat(), 1234.5f);
  EXPECT_FLOAT_EQ(t->FieldByNameAt("t4", 1)->AsFloat(), 1.0f);
  EXPECT_FLOAT_EQ(t->FieldByNameAt("h21", 1)->AsFloat(), 0.0f);
  EXPECT_EQ(t->FieldByNameAt("c8", 1)->AsCardinal(), 4294967295u);
  EXPECT_EQ(t->FieldByNameAt("s25", 1)->AsCardinal(), 0u);  // only type 8 has one
  // Every type-8 value converts, "r_dt" or not.
  EXPECT_DOUBLE_EQ(t->FieldByNameAt("c8", 2)->AsDateTime(), 36526.0 + 12.0 / 86400);
  EXPECT_DOUBLE_EQ(t->FieldByNameAt("s25", 1)->AsDateTime(), 36527.0);
  EXPECT_DOUBLE_EQ(t->FieldByNameAt("dt9", 1)->AsDateTime(), 36526.5);
  EXPECT_EQ(t->FieldByNameAt("x11", 1)->AsBytes(), (std::vector<uint8_t>{1, 0, 255}));
  EXPECT_EQ(t->FieldByNameAt("i1", 1)->AsBytes(), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(FieldGFBTest, NonNumericTextsThrowConversionError) {
  auto t = Load(AllTypes());
  EXPECT_THROW(t->FieldByNameAt("s2", 2)->AsFloat(), ConversionError);
  FieldData p = TextField("p24", 24, 4, {"x1"});
  auto u = Load(MakeTable("p", {1}, {0}, {p}));
  EXPECT_THROW(u->FieldByNameAt("p24", 1)->AsInteger(), ConversionError);
  EXPECT_EQ(u->FieldByNameAt("p24", 1)->AsString(), "x1");
}

TEST_F(FieldGFBTest, MissingFieldUnpositionedTableAndShortColumns) {
  auto t = Load(AllTypes());
  FieldGFB* none = t->FieldByName("nope");
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(AsString(none), "");
  EXPECT_EQ(AsInteger(none), 0);
  EXPECT_TRUE(AsBytes(none).empty());

  // Before any positioning CurrentRow is 0.
  auto fresh = Load(AllTypes());
  FieldGFB* f = fresh->Fields[2].get();
  EXPECT_EQ(f->AsString(), kRecordNotFound);
  EXPECT_EQ(f->AsInteger(), 0);

  // A row beyond the column's data reads empty.
  FieldGFB* i1 = t->FieldAtRow(3, 5);
  EXPECT_EQ(i1->AsString(), "");
  EXPECT_EQ(i1->AsInteger(), 0);
  EXPECT_EQ(t->FieldAtRow(13, 5)->AsBytes(), (std::vector<uint8_t>{0, 0, 0}));
}

TEST_F(FieldGFBTest, NotPresentFieldsGiveZeroButStillRenderText) {
  TableData d = AllTypes();
  d.Fields[2].Block = false;  // i1 has no column block
  auto t = Load(d);
  FieldGFB* f = t->FieldByNameAt("i1", 1);
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(f->Present);
  EXPECT_EQ(f->AsInteger(), 0);
  EXPECT_EQ(f->AsString(), "");  // no column, but the table is positioned
}

}  // namespace
}  // namespace ab::test
