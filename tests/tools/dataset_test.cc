#include "msgserver/dataset.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "support/temp_dir.h"
#include "util/codepage.h"

namespace ab::sim {
namespace {

constexpr int64_t kNow = 1765000000;

std::string W(const char* utf8) { return Utf8ToCp1251(utf8); }

TEST(DataSetTest, DemoSetHasObjectsPersonsAndPicturesAsDescribed) {
  const DataSetRead r = ReadDataSetFile(AB_DEMO_DATA, kNow);
  ASSERT_EQ(r.Error, "");
  const DataSet& d = r.Data;
  EXPECT_GE(d.Objects.size(), 24u);
  EXPECT_GE(d.Pictures.size(), 3u);
  EXPECT_GE(d.Events.size(), 1u);
  std::map<int32_t, int> persons_of;
  for (const auto& l : d.Links) ++persons_of[l.Object];
  int unnamed = 0;
  for (const auto& p : d.Persons) unnamed += p.Name.empty() ? 1 : 0;
  EXPECT_GT(unnamed, 0);
  for (const auto& o : d.Objects) {
    EXPECT_GE(persons_of[o.Id], 1) << o.Id;
    EXPECT_LE(persons_of[o.Id], 3) << o.Id;
    EXPECT_FALSE(o.Name.empty()) << o.Id;
    if (o.Lat != 0) {
      EXPECT_NEAR(o.Lat, 56.84, 0.2) << o.Id;  // around one city
      EXPECT_NEAR(o.Lon, 60.6, 0.2) << o.Id;
    }
  }
  // Cyrillic comes through converted to the code page of the tables.
  EXPECT_EQ(d.Objects[0].Name.find(W("Школа")), 0u);
  for (const auto& p : d.Pictures) {
    ASSERT_GT(p.Bytes.size(), 8u) << p.File;
    EXPECT_EQ(p.Bytes.substr(0, 8), "\x89PNG\r\n\x1a\n") << p.File;
    EXPECT_EQ(p.File.find('/'), std::string::npos);
  }
  EXPECT_EQ(d.Events[0].find("\"inc_counter\""), std::string::npos);
}

TEST(DataSetTest, BuiltInDemoIsTheDemoFolder) {
  const DataSetRead file = ReadDataSetFile(AB_DEMO_DATA, kNow);
  const DataSetRead built_in = ReadBuiltInDemo(kNow);
  ASSERT_EQ(built_in.Error, "");
  ASSERT_EQ(built_in.Data.Objects.size(), file.Data.Objects.size());
  for (size_t i = 0; i < file.Data.Objects.size(); ++i) {
    EXPECT_EQ(built_in.Data.Objects[i].Name, file.Data.Objects[i].Name);
  }
  EXPECT_EQ(built_in.Data.Persons.size(), file.Data.Persons.size());
  EXPECT_EQ(built_in.Data.Links.size(), file.Data.Links.size());
  EXPECT_EQ(built_in.Data.Events, file.Data.Events);
  ASSERT_EQ(built_in.Data.Pictures.size(), file.Data.Pictures.size());
  for (size_t i = 0; i < file.Data.Pictures.size(); ++i) {
    EXPECT_EQ(built_in.Data.Pictures[i].File, file.Data.Pictures[i].File);
    EXPECT_EQ(built_in.Data.Pictures[i].Bytes, file.Data.Pictures[i].Bytes);
  }
}

TEST(DataSetTest, FieldsDefaultsAndConversions) {
  test::TempDir dir;
  std::ofstream(dir.path() / "p.png", std::ios::binary) << "PNGDATA";
  const std::string text =
      "\xEF\xBB\xBF"  // a byte-order mark is allowed
      R"({"objects":[{"id":7,"name":"Склад \"Юг\"","lat":56.5,"served":false,"street":"\u0416 \ud83d\ude00 \/",
                                "updated":946684800,"state":2},{"id":9,"number":12}],
                              "persons":[{"id":3}],"links":[{"object":9,"person":3}],
                              "pictures":[{"id":1,"object":7,"file":"p.png"}],
                              "events":[{"event_date":"5","text":"Тревога","n":[1,true,null]}]})";
  const DataSetRead r = ReadDataSet(text, FilesUnder(dir.path()), kNow);
  ASSERT_EQ(r.Error, "");
  const auto& o = r.Data.Objects;
  ASSERT_EQ(o.size(), 2u);
  EXPECT_EQ(o[0].Name, W("Склад \"Юг\""));
  EXPECT_EQ(o[0].Street, W("Ж ? /"));  // outside the code page: '?'

  EXPECT_EQ(o[0].Number, 7);  // the record number when not given
  EXPECT_FALSE(o[0].Served);
  EXPECT_TRUE(o[0].Active);
  EXPECT_EQ(o[0].Updated, 0u);
  EXPECT_EQ(o[0].StateTime, kNow - kUnix2000);
  EXPECT_EQ(o[1].Number, 12);
  EXPECT_EQ(r.Data.Links[0].Id, 1);
  EXPECT_EQ(r.Data.Pictures[0].Bytes, "PNGDATA");
  EXPECT_EQ(r.Data.Pictures[0].File, "p.png");
  EXPECT_EQ(r.Data.Events[0], W("{\"event_date\":\"5\",\"text\":\"Тревога\",\"n\":[1,true,null]}"));
}

TEST(DataSetTest, BrokenFilesAreRefusedSayingWhereAndWhy) {
  test::TempDir dir;
  std::ofstream(dir.path() / "a.png") << "x";
  std::ofstream(dir.path() / "sub.png") << "y";
  std::filesystem::create_directories(dir.path() / "other");
  std::ofstream(dir.path() / "other" / "a.png") << "z";
  const std::string long_text(256, 'x');
  const struct {
    std::string Text;
    std::string Says;
  } cases[] = {
      {"", "line 1, column 1: a value is missing"},
      {"{\"objects\":[\n{\"id\":1,}]}", "line 2, column 9: a member name in quotes expected"},
      {"{\"objects\":[{\"id\":1}]} x", "unexpected text after the document"},
      {"{\"objects\":[{\"id\":\"1\"}]}", "\"id\" must be a whole number from 1 to 16777214"},
      {"{\"objects\":[{\"id\":1.5}]}", "\"id\" must be a whole number"},
      {"{\"objects\":[{\"id\":0}]}", "\"id\" must be a whole number"},
      {"{\"objects\":[{\"name\":\"x\"}]}", "member \"id\" is missing"},
      {"{\"objekts\":[]}", "unknown member \"objekts\" in the data set"},
      {"{\"persons\":[]}", "member \"objects\" is missing"},
      {"{\"objects\":{}}", "\"objects\" must be an array"},
      {"{\"objects\":[{\"id\":1},{\"id\":1}]}", "object id 1 given twice"},
      {"{\"objects\":[{\"id\":1,\"id\":2}]}", "member \"id\" given twice"},
      {"{\"objects\":[{\"id\":1},{\"id\":200000}]}", "span more than 100000"},
      {"{\"objects\":[{\"id\":1,\"lat\":91}]}", "\"lat\" must be a number from -90 to 90"},
      {"{\"objects\":[{\"id\":1,\"served\":1}]}", "\"served\" must be true or false"},
      {"{\"objects\":[{\"id\":1,\"name\":\"" + long_text + "\"}]}", "longer than 255"},
      {"{\"objects\":[{\"id\":1,\"updated\":5}]}", "\"updated\" must be a whole number"},
      {"{\"objects\":[{\"id\":1,\"name\":\"a\\qb\"}]}", "unknown escape"},
      {"{\"objects\":[{\"id\":1,\"name\":\"\\ud800\"}]}", "lone surrogate"},
      {"{\"objects\":[{\"id\":1,\"name\":\"open}]}", "unterminated string"},
      {"{\"objects\":[{\"id\":1}],\"links\":[{\"object\":1,\"person\":4}]}",
       "link to person 4, which is not in \"persons\""},
      {"{\"objects\":[{\"id\":1}],\"persons\":[{\"id\":4}],\"links\":[{\"object\":2,\"person\":4}]"
       "}",
       "link to object 2"},
      {"{\"objects\":[{\"id\":1}],\"pictures\":[{\"id\":1,\"object\":1,\"file\":\"none.png\"}]}",
       "cannot read picture file"},
      {"{\"objects\":[{\"id\":1}],\"pictures\":[{\"id\":1,\"object\":1,\"file\":\"other\"}]}",
       "cannot read picture file"},
      {"{\"objects\":[{\"id\":1}],\"pictures\":[{\"id\":1,\"object\":1}]}",
       "\"file\" must name the picture"},
      {"{\"objects\":[{\"id\":1}],\"pictures\":[{\"id\":1,\"object\":1,\"file\":\"a.png\"},"
       "{\"id\":2,\"object\":1,\"file\":\"other/a.png\"}]}",
       "two pictures share the file name a.png"},
      {"{\"objects\":[{\"id\":1}],\"pictures\":[{\"id\":1,\"object\":3,\"file\":\"a.png\"}]}",
       "picture of object 3"},
      {"{\"objects\":[{\"id\":1}],\"events\":[{\"inc_counter\":\"0\"}]}",
       "\"inc_counter\" is given by the server's queue"},
      {"{\"objects\":[{\"id\":1}],\"events\":[3]}", "an event must be an object"},
      {std::string(100, '[') + std::string(100, ']'), "nested too deeply"},
  };
  for (const auto& c : cases) {
    const DataSetRead r = ReadDataSet(c.Text, FilesUnder(dir.path()), kNow);
    EXPECT_NE(r.Error.find(c.Says), std::string::npos) << c.Text << "\n gave: " << r.Error;
    EXPECT_TRUE(r.Data.Objects.empty()) << c.Text;
  }
  const DataSetRead missing = ReadDataSetFile(dir.path() / "nothing.json", kNow);
  EXPECT_NE(missing.Error.find("nothing.json: cannot open the data file"), std::string::npos);
}

}  // namespace
}  // namespace ab::sim
