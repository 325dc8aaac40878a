// Loading the raw form (plain and zlib-compressed) and the text form, and refusing bad files.

#include <gtest/gtest.h>

#include <fstream>

#include "table_fixture.h"
#include "tables/conversion_error.h"

namespace ab::test {
namespace {

using ::testing::ElementsAre;

TableData Sample() {
  FieldData coded = IntField("c", {1, 0, 2}, 16);
  coded.TextWidth = 12;
  coded.Dictionary = {{1, "one"}, {2, "two"}};
  return MakeTable("otvl", {7, 8, 9}, {0, 1, 0},
                   {TextField("name", 2, 12, {"Ann", "Bob", "Cy"}),
                    TextField("memo", 24, 4, {"x", std::nullopt, "long text"}),
                    RealField("lat", 6, {1.5, 2.5, 3.5}), coded});
}

// Every column of every field, for comparing two loads.
std::vector<std::string> Snapshot(TBaseClient& t) {
  std::vector<std::string> out;
  for (size_t k = 0; k < t.Fields.size(); ++k) {
    const FieldGFB& f = *t.Fields[k];
    out.push_back(f.FieldName + ":" + std::to_string(f.FieldType) + ":" +
                  std::to_string(f.Present));
    for (int32_t r = 1; r <= t.RowCount(); ++r)
      out.push_back(AsString(t.FieldAtRow(static_cast<int32_t>(k + 1), r)));
  }
  return out;
}

class TableLoadTest : public TableTest {
 protected:
  std::unique_ptr<TBaseClient> LoadFile(const Bytes& bytes, bool compressed,
                                        const std::string& name = "otvl",
                                        TableLoadResult expect = TableLoadResult::kLoaded) {
    auto t = Empty(name);
    t->Compressed = compressed;
    auto path = WriteFile("t.dat", bytes);
    EXPECT_EQ(t->LoadFromFile(path), expect);
    return t;
  }
};

TEST_F(TableLoadTest, CompressedAndPlainFilesLoadTheSameTable) {
  Bytes raw = BuildRawTable(Sample());
  auto plain = LoadFile(raw, false);
  EXPECT_FALSE(std::filesystem::exists(Dir() / "temp" / "t.dat"));
  auto packed = LoadFile(Compress(raw), true);
  EXPECT_FALSE(std::filesystem::exists(Dir() / "temp" / "t.dat"));
  EXPECT_EQ(Snapshot(*plain), Snapshot(*packed));
  EXPECT_TRUE(packed->Loaded);
  EXPECT_TRUE(packed->DataChanged);
  EXPECT_THAT(packed->View(), ElementsAre(1, 3));
  EXPECT_EQ(packed->FieldByNameAt("memo", 2)->AsString(), "long text");
  EXPECT_EQ(packed->FieldByNameAt("c", 2)->AsString(), "two");
  EXPECT_EQ(packed->FieldByNameAt("name", 1)->AsString(), "Ann");
}

TEST_F(TableLoadTest, MissingFileChangesNothing) {
  auto t = Empty("otvl");
  EXPECT_EQ(t->LoadFromFile("temp/none.dat"), TableLoadResult::kNoFile);
  EXPECT_FALSE(t->Loaded);
}

TEST_F(TableLoadTest, InvalidZlibDataKeepsFileAndLeavesTableUnloaded) {
  Bytes packed = Compress(BuildRawTable(Sample()));
  Bytes cut(packed.begin(), packed.begin() + static_cast<ptrdiff_t>(packed.size() / 2));
  Bytes garbage = {0x78, 0x9c, 0xff, 0xff, 0xff, 0xff, 0x00, 0x01};
  Bytes bad_sum = packed;
  bad_sum.back() ^= 0xff;  // the Adler-32 of the stream
  for (const Bytes* bytes : {&cut, &garbage, &bad_sum}) {
    auto t = LoadFile(*bytes, true, "otvl", TableLoadResult::kInflateFailed);
    EXPECT_FALSE(t->Loaded);
    EXPECT_TRUE(std::filesystem::exists(Dir() / "temp" / "t.dat"));
  }
}

TEST_F(TableLoadTest, NameMismatchLoadsNothingButCountsAsLoaded) {
  auto t = LoadFile(BuildRawTable(Sample()), false, "otvls");
  EXPECT_TRUE(t->Fields.empty());
  EXPECT_TRUE(t->Loaded);
  EXPECT_TRUE(t->DataChanged);
  EXPECT_FALSE(std::filesystem::exists(Dir() / "temp" / "t.dat"));
}

TEST_F(TableLoadTest, StructureOnlyAcceptsNameAsSubstring) {
  struct Case {
    std::string file_name, table;
    bool structure_only, accepted;
  };
  const Case cases[] = {{"otvl", "otvls", true, true},
                        {"otvls", "otvl", true, false},
                        {"otvl", "otvls", false, false},
                        {"otvl", "otvl", false, true},
                        {"", "otvl", true, false}};
  for (const Case& c : cases) {
    TableData d = Sample();
    d.Name = c.file_name;
    auto t = Empty(c.table);
    t->StructureOnly = c.structure_only;
    t->LoadRawImage(BuildRawTable(d));
    EXPECT_EQ(!t->Fields.empty(), c.accepted) << c.file_name << " into " << c.table;
    if (c.accepted && c.structure_only) {
      EXPECT_FALSE(t->Fields[0]->Present);  // descriptors only
      EXPECT_EQ(t->RowCount(), 3);
    }
  }
}

TEST_F(TableLoadTest, ZeroRowsAddsFieldsWithoutData) {
  TableData d = Sample();
  d.RowCount = 0;
  auto t = Load(d);
  ASSERT_EQ(t->Fields.size(), 6u);
  EXPECT_TRUE(t->Fields[0]->Present);
  EXPECT_TRUE(t->Fields[0]->Data.Ints.empty());
  EXPECT_EQ(t->Fields[5]->Data.Strings.size(), 2u);  // the dictionary still comes
  EXPECT_EQ(t->Count(), 0);
  EXPECT_TRUE(t->View().empty());
}

TEST_F(TableLoadTest, DuplicateDescriptorAndPartialBlocks) {
  TableData d = Sample();
  FieldData dup = TextField("name", 2, 30, {});
  dup.Block = false;
  d.Fields.push_back(dup);
  d.Fields[4].Block = false;  // "lat" gets no block
  auto t = Load(d);
  ASSERT_EQ(t->Fields.size(), 6u);
  EXPECT_EQ(t->Fields[2]->Width, 12);
  EXPECT_FALSE(t->Fields[4]->Present);
  EXPECT_EQ(t->FieldByNameAt("lat", 1)->AsInteger(), 0);
  EXPECT_EQ(t->FieldByNameAt("name", 2)->AsString(), "Cy");
}

// Offsets into the image of Sample(): header, 6 descriptors, then the first block (n_abs).
constexpr size_t kBlocks = kTableHeaderSize + 6 * kDescriptorSize;

TEST_F(TableLoadTest, MalformedFilesStopAtTheFaultAndNeverReadOutside) {
  const Bytes good = BuildRawTable(Sample());
  auto put = [](Bytes b, size_t at, int32_t v) {
    PutI32(b.data() + at, v);
    return b;
  };
  // The second block (p_d) starts after n_abs's descriptor and its 3 x 4 bytes.
  const size_t second = kBlocks + kDescriptorSize + 12;
  struct Case {
    const char* name;
    Bytes bytes;
    size_t fields;       // fields added
    bool first_present;  // n_abs block read before the fault
  };
  const Case cases[] = {
      {"header cut short", Bytes(good.begin(), good.begin() + 10), 0, false},
      {"negative row count", put(good, kHeaderRowCount, -1), 0, false},
      {"huge row count", put(good, kHeaderRowCount, 0x7fffffff), 0, false},
      {"negative descriptor count", put(good, kHeaderFieldCount, -3), 0, false},
      {"descriptors beyond file", put(good, kHeaderFieldCount, 1000000), 0, false},
      {"negative block count", put(good, kHeaderBlockCount, -1), 0, false},
      {"negative width", put(good, kTableHeaderSize + 21, -4), 0, false},
      {"huge width", put(good, kTableHeaderSize + kDescriptorSize + 21, kMaxFieldWidth + 1), 1,
       false},
      {"huge text width", put(good, kTableHeaderSize + 25, 0x7fffffff), 0, false},
      {"block number zero", put(good, kBlocks, 0), 6, false},
      {"block number too big", put(good, second, 7), 6, true},
      {"fixed width wrong", put(good, second + 21, 4), 6, true},
      {"truncated column", Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(second - 5)),
       6, false},
      {"truncated later block", Bytes(good.begin(), good.end() - 3), 6, true},
      {"more blocks than present", put(good, kHeaderBlockCount, 99), 6, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = Empty("otvl");
    EXPECT_EQ(t->LoadRawImage(c.bytes), TableLoadResult::kMalformed);
    EXPECT_EQ(t->Fields.size(), c.fields);
    if (!t->Fields.empty()) {
      EXPECT_EQ(t->Fields[0]->Present, c.first_present);
      EXPECT_EQ(t->Fields[0]->Data.Ints.size(), c.first_present ? 3u : 0u);
    }
    EXPECT_TRUE(t->Loaded);
  }
}

TEST_F(TableLoadTest, CompressedCountsBeyondWhatTheStreamCouldHoldAreRefused) {
  // 1M rows of n_abs would need 4 MB; a stream of this size cannot inflate to that.
  Bytes raw = BuildRawTable(MakeTable("otvl", {1}, {0}));
  PutI32(raw.data() + kHeaderRowCount, kMaxRowCount);
  auto t = LoadFile(Compress(raw), true, "otvl", TableLoadResult::kMalformed);
  EXPECT_FALSE(t->Fields[0]->Present);
  EXPECT_TRUE(t->Loaded);
}

TEST_F(TableLoadTest, SlotBlockWidthMustMatchItsField) {
  TableData d = Sample();
  Bytes b = BuildRawTable(d);
  // Third block ("name", type 2): after n_abs (12 bytes) and p_d (3 bytes) blocks.
  size_t third = kBlocks + 2 * kDescriptorSize + 12 + 3;
  ASSERT_EQ(b[third + 20], 2);
  PutI32(b.data() + third + 21, 100);
  auto t = Empty("otvl");
  EXPECT_EQ(t->LoadRawImage(b), TableLoadResult::kMalformed);
  EXPECT_FALSE(t->Fields[2]->Present);
  EXPECT_TRUE(t->Fields[1]->Present);
  EXPECT_THAT(t->View(), ElementsAre(1, 3));  // the blocks before the fault were refreshed
}

TEST_F(TableLoadTest, PoolOffsetsOutsideThePoolReadEmpty) {
  TableData d = MakeTable("p", {1, 2}, {0, 0}, {TextField("m", 24, 4, {"ab", "cd"})});
  Bytes b = BuildRawTable(d);
  size_t offsets = b.size() - 6 - 8;  // pool of 6 bytes after two offsets
  PutI32(b.data() + offsets + 4, 1000);
  PutI32(b.data() + offsets, 4);  // 'c' read as a length byte of 99: cut at the pool's end
  auto t = Empty("p");
  EXPECT_EQ(t->LoadRawImage(b), TableLoadResult::kLoaded);
  EXPECT_EQ(t->FieldByNameAt("m", 2)->AsString(), "");
  EXPECT_EQ(t->FieldByNameAt("m", 1)->AsString(), "d");
}

TEST_F(TableLoadTest, TextFormFillsTypeOneAndTwentyFourOnly) {
  TableData d =
      MakeTable("otvl", {5, 6}, {0, 0},
                {TextField("memo", 24, 4, {"\"quoted\"", "plain"}), IntField("v", {-3, 12})});
  auto t = Empty("otvl");
  t->RawFile = false;
  auto path = WriteFile("t.json", BuildTextTable(d));
  EXPECT_EQ(t->LoadFromFile(path), TableLoadResult::kLoaded);
  EXPECT_FALSE(std::filesystem::exists(Dir() / path));
  ASSERT_EQ(t->Fields.size(), 4u);
  EXPECT_EQ(t->RowCount(), 2);
  EXPECT_FALSE(t->Fields[0]->Present);
  EXPECT_TRUE(t->View().empty());  // p_d has no data
  EXPECT_EQ(t->FieldAtRow(3, 1)->AsString(), "quoted");
  EXPECT_EQ(t->FieldAtRow(4, 2)->AsString(), "12");
  EXPECT_EQ(t->FieldAtRow(4, 2)->AsInteger(), 0);
  EXPECT_TRUE(t->Loaded);
}

TEST_F(TableLoadTest, TextFormRejectsNonNumericStructure) {
  const std::string cases[] = {
      R"({"$c$":"tabledata","tablefields":{"n_abs":"1,x,4,0"},"count":"1","fields":{}})",
      R"({"$c$":"tabledata","tablefields":{"n_abs":"1,1,4"},"count":"1","fields":{}})",
  };
  for (const std::string& text : cases) {
    auto t = Empty("otvl");
    EXPECT_THROW(t->LoadTableData(text), ConversionError) << text;
  }
  // Counts and values that are not numbers are read as 0.
  auto t = Empty("otvl");
  t->LoadTableData(
      R"({"$c$":"tabledata","tablefields":{"n_abs":"1,1,4,0"},"count":"many","fields":{"n_abs":"1"}})");
  EXPECT_EQ(t->RowCount(), 0);
  EXPECT_TRUE(t->Loaded);
  auto u = Empty("otvl");
  u->LoadTableData(R"({"$c$":"other"})");
  EXPECT_TRUE(u->Loaded);
  EXPECT_TRUE(u->Fields.empty());
}

}  // namespace
}  // namespace ab::test
