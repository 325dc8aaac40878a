// The local column cache (scrambled, with MD5 digests) and the plain archive.

#include <openssl/evp.h>

#include <fstream>
#include <iterator>

#include "table_fixture.h"
#include "util/func.h"

namespace ab::test {
namespace {

Bytes ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Md5Hex(const Bytes& data) {
  uint8_t digest[16];
  unsigned int len = 0;
  EVP_Digest(data.data(), data.size(), digest, &len, EVP_md5(), nullptr);
  return BytesToHex({digest, 16});
}

TableData Cached() {
  FieldData coded = IntField("c", {1, 2}, 15);
  coded.TextWidth = 6;
  coded.Dictionary = {{1, "one"}, {0x10002, "two-long"}};
  return MakeTable(
      "obj", {3, 4}, {0, 0},
      {TextField("memo", 24, 4, {"hi", std::nullopt}), coded, RealField("d", 7, {0.25, -8})});
}

class TableCacheTest : public TableTest {
 protected:
  // Registers "obj" with the cache and archive on and loads Cached() from a file.
  TBaseClient& LoadCached(TBaseC& tables) {
    AddTable(tables, Dir(), "obj", "", "", true, true);
    TBaseClient& t = *tables[0];
    t.RawFile = true;
    EXPECT_EQ(t.LoadFromFile(WriteFile("obj.dat", BuildRawTable(Cached()))),
              TableLoadResult::kLoaded);
    return t;
  }
  std::filesystem::path CacheFile(const std::string& name) { return Dir() / "temp" / "obj" / name; }
};

TEST_F(TableCacheTest, CacheReadBackGivesSameColumnsAndDigests) {
  TBaseC first;
  TBaseClient& loaded = LoadCached(first);

  TBaseC second;
  AddTable(second, Dir(), "obj", "", "", true, false);
  TBaseClient& t = *second[0];
  std::string request = t.BuildLoadRequest();
  ASSERT_EQ(t.Fields.size(), loaded.Fields.size());
  std::string md5s;
  for (size_t k = 0; k < t.Fields.size(); ++k) {
    const FieldGFB& a = *loaded.Fields[k];
    const FieldGFB& b = *t.Fields[k];
    SCOPED_TRACE(a.FieldName);
    EXPECT_EQ(b.FieldType, a.FieldType);
    EXPECT_TRUE(b.Present);
    EXPECT_EQ(b.Data.Ints, a.Data.Ints);
    EXPECT_EQ(b.Data.Bytes, a.Data.Bytes);
    EXPECT_EQ(b.Data.Words, a.Data.Words);
    EXPECT_EQ(b.Data.Cardinals, a.Data.Cardinals);
    EXPECT_EQ(b.Data.Strings, a.Data.Strings);
    EXPECT_EQ(b.Data.Doubles, a.Data.Doubles);
    ASSERT_EQ(b.Md5.size(), 32u);
    md5s += (md5s.empty() ? "\"" : ",\"") + a.FieldName + "\":\"" + b.Md5 + "\"";
  }
  EXPECT_EQ(t.RowCount(), 0);  // rows come with the server's answer
  EXPECT_FALSE(t.Loaded);
  EXPECT_EQ(request,
            R"({"$c$":"database","command":"gettableraw","refresh":1,"name":"obj","md5":{)" + md5s +
                R"(},"filter":{}})");
}

TEST_F(TableCacheTest, CacheFileLayoutIsScrambledDigestAndPayload) {
  TBaseC tables;
  LoadCached(tables);
  // n_abs: payload is the column; type-15 "c": type, count, entries, codes.
  struct Case {
    const char* file;
    uint8_t type;
    Bytes payload;
  };
  const Case cases[] = {
      {"n_abs.cache", 1, {3, 0, 0, 0, 4, 0, 0, 0}},
      {"c.cache", 15, {15, 2, 0,   1,   0,   0,   0,   3,   'o', 'n', 'e', 2, 0, 1,
                       0,  8, 't', 'w', 'o', '-', 'l', 'o', 'n', 'g', 1,   0, 2, 0}},
      {"memo.cache", 24, {0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 2, 'h', 'i'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Bytes file = ReadAll(CacheFile(c.file));
    ASSERT_GE(file.size(), 19u);
    Bytes plain = file;
    Scramble(plain, 1);
    EXPECT_NE(Bytes(file.begin() + 2, file.end()), Bytes(plain.begin() + 2, plain.end()));
    EXPECT_EQ(plain[2], c.type);
    EXPECT_EQ(BytesToHex({plain.data() + 3, 16}), Md5Hex(c.payload));
    EXPECT_EQ(Bytes(plain.begin() + 19, plain.end()), c.payload);
  }
  Bytes structure = ReadAll(CacheFile("obj.cacheb"));
  Scramble(structure, 1);
  ASSERT_EQ(structure.size(), 2 + kTableHeaderSize + 5 * kDescriptorSize);
  Bytes raw = BuildRawTable(Cached());
  EXPECT_TRUE(std::equal(structure.begin() + 2, structure.end(), raw.begin()));
}

TEST_F(TableCacheTest, ArchiveHoldsPlainColumns) {
  TBaseC tables;
  LoadCached(tables);
  std::filesystem::path arh = Dir() / "arh" / "obj";
  EXPECT_EQ(ReadAll(arh / "c.ffb"), (Bytes{1, 0, 2, 0}));
  // Keys cut to 2 bytes, texts in 6-byte slots (cut to 5 characters).
  EXPECT_EQ(ReadAll(arh / "c.ffs"),
            (Bytes{1, 0, 3, 'o', 'n', 'e', 0, 0, 2, 0, 5, 't', 'w', 'o', '-', 'l'}));
  EXPECT_EQ(ReadAll(arh / "memo.ffv"), (Bytes{2, 'h', 'i'}));
  EXPECT_EQ(ReadAll(arh / "d.ffb").size(), 16u);
}

TEST_F(TableCacheTest, UnopenableColumnCacheStopsTheLoad) {
  TBaseC first;
  LoadCached(first);
  // A directory where memo's cache should be: it exists but cannot be opened as a file.
  std::filesystem::remove(CacheFile("memo.cache"));
  std::filesystem::create_directory(CacheFile("memo.cache"));
  TBaseC second;
  AddTable(second, Dir(), "obj", "", "", true, false);
  TBaseClient& t = *second[0];
  t.OpenSharedAttempts = 1;
  t.LoadCache();
  ASSERT_EQ(t.Fields.size(), 3u);  // n_abs, p_d, memo: the rest is not reached
  EXPECT_FALSE(t.Fields[0]->Md5.empty());
  EXPECT_FALSE(t.Fields[1]->Md5.empty());
  EXPECT_TRUE(t.Fields[2]->Md5.empty());
}

TEST_F(TableCacheTest, FieldNamesCannotLeaveTheCacheDirectory) {
  TableData d = Cached();
  d.Fields[2].Name = "../../evil";
  TBaseC tables;
  AddTable(tables, Dir(), "obj", "", "", true, true);
  TBaseClient& t = *tables[0];
  t.RawFile = true;
  t.LoadFromFile(WriteFile("obj.dat", BuildRawTable(d)));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "evil.cache"));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "evil.ffb"));
  EXPECT_TRUE(std::filesystem::exists(CacheFile("n_abs.cache")));
}

TEST_F(TableCacheTest, FileOfAnotherTableKeepsTheStructureCache) {
  TBaseC tables;
  TBaseClient& t = LoadCached(tables);
  Bytes before = ReadAll(CacheFile("obj.cacheb"));
  TableData other = Cached();
  other.Name = "other";
  EXPECT_EQ(t.LoadFromFile(WriteFile("o.dat", BuildRawTable(other))), TableLoadResult::kLoaded);
  EXPECT_EQ(ReadAll(CacheFile("obj.cacheb")), before);
}

TEST_F(TableCacheTest, NoCacheWithoutTheOption) {
  auto t = Empty("obj");
  t->LoadFromFile(WriteFile("obj.dat", BuildRawTable(Cached())));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "temp" / "obj"));
  EXPECT_FALSE(std::filesystem::exists(Dir() / "arh"));
  t->LoadCache();  // does nothing
  EXPECT_EQ(t->Fields.size(), 5u);
}

}  // namespace
}  // namespace ab::test
