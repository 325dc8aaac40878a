#include "web/objects_resource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "fake_context.h"
#include "support/temp_dir.h"

namespace ab {
namespace {

using test::Cp;

constexpr double kEpoch = 25569.0;  // 1970-01-01 in table date-time

// Objects 101 and 102 selected and indexed, 250 selected but added after the last rebuild,
// 103 not selected.
class ObjectsTest : public ::testing::Test {
 protected:
  ObjectsTest() {
    ctx_.Config.PublicAddress = "10.0.0.5:8090";
    auto& o = ctx_.Objects;
    int32_t a = o.AddRow(101);
    o.Cell(a, 139).Raw = {0x21};
    o.Cell(a, 4).DateTime = 45356.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0;
    o.Cell(a, 29).Raw = {0x00, 0x40};
    o.SetText(a, 8, Cp("Склад \"Север\""));
    o.SetText(a, 9, Cp("ул. Ленина"));
    o.SetText(a, 12, Cp("д. 5/1"));
    o.Cell(a, 25).Float = 37.5f;
    o.Cell(a, 26).Float = 55.75f;
    o.SetText(a, 21, Cp("Банк & Офис"));
    o.SetText(a, 13, "+7 (495) 123-45-67");

    int32_t b = o.AddRow(102);
    o.Cell(b, 139).Raw = {0xff, 0x00};
    o.Cell(b, 4).DateTime = kEpoch + 7.9 / 24.0;
    o.Cell(b, 29).Raw = {0x40};
    o.SetText(b, 8, Cp("Пост\n1"));
    o.SetText(b, 9, Cp("Мира"));
    o.Cell(b, 26).Float = 10.5f;

    int32_t d = o.AddRow(103);
    o.Cell(d, 139).Raw = {0xdf};
    o.SetText(d, 8, "hidden");

    int32_t c = o.AddRow(250);
    o.Cell(c, 139).Raw = {0x20};
    o.SetText(c, 8, "C:\\dir");

    ctx_.Pictures.SetText(ctx_.Pictures.AddRow(11), 9, Cp("План этажа"));
    ctx_.Pictures.AddRow(12);

    int32_t p1 = ctx_.Persons.AddRow(31);
    ctx_.Persons.SetText(p1, 7, Cp("Иванов И.И."));
    ctx_.Persons.SetText(p1, 8, Cp("Охранник"));
    ctx_.Persons.SetText(p1, 10, "123");
    ctx_.Persons.SetText(p1, 11, "+79001234567");
    int32_t p2 = ctx_.Persons.AddRow(32);
    ctx_.Persons.SetText(p2, 9, "555");

    ctx_.MinObjectRecord = 101;
    ctx_.ObjectPictures = {{1, 2}, {}, {}};
    ctx_.ObjectPersons = {{1, 2, 1}, {}, {}};
  }

  std::string Body(const std::string& request) { return GetObjects(ctx_, request).Body; }

  test::FakeContext ctx_;
};

const std::string kPerson31 =
    R"({"pers_id":"31","fullname":"Иванов И.И.","home_phone":null,"work_phone":"123",)"
    R"("mobile_phone":"+79001234567","position":"Охранник"})";
const std::string kObject101 =
    R"({"passport":{"object_id":"101","update_date":1709618829,"object_state":"NotActive",)"
    R"("name":"Склад \"Север\"","area_code":null,"postcode":null,"fias":null,"kladr":null,)"
    R"("addr":"ул. Ленина д. 5\/1","longitude":"37.500000","latitude":"55.750000",)"
    R"("type":"Банк & Офис","phone":"+7 (495) 123-45-67","serviceorg":null,)"
    R"("serviceorg_phone":null,"tech_man":null,"operator":null,"manager":null,"keys":null,)"
    R"("pictures":[{"pic_id":"11","url":"http://10.0.0.5:8090/GetPicture&n=11",)"
    R"("text":"План этажа"},{"pic_id":"12","url":"http://10.0.0.5:8090/GetPicture&n=12",)"
    R"("text":null}],"resp_persons":[)" +
    kPerson31 +
    R"(,{"pers_id":"32","home_phone":"555","work_phone":null,"mobile_phone":null,)"
    R"("position":null},)" +
    kPerson31 + "]}}";
const std::string kObject102 =
    R"({"passport":{"object_id":"102","update_date":0,"object_state":"Active",)"
    R"("name":"Пост\u000a1","area_code":null,"postcode":null,"fias":null,"kladr":null,)"
    R"("addr":"Мира ","longitude":null,"latitude":"10.500000","type":null,"phone":null,)"
    R"("serviceorg":null,"serviceorg_phone":null,"tech_man":null,"operator":null,)"
    R"("manager":null,"keys":null,"pictures":[],"resp_persons":[]}})";
const std::string kObject250 =
    R"({"passport":{"object_id":"250","update_date":0,"object_state":"Active",)"
    R"("name":"C:\\dir","area_code":null,"postcode":null,"fias":null,"kladr":null,)"
    R"("addr":" ","longitude":null,"latitude":null,"type":null,"phone":null,)"
    R"("serviceorg":null,"serviceorg_phone":null,"tech_man":null,"operator":null,)"
    R"("manager":null,"keys":null,"pictures":[],"resp_persons":[]}})";

TEST_F(ObjectsTest, SelectedObjectsInViewOrderExactly) {
  std::string all = "[" + kObject101 + "," + kObject102 + "," + kObject250 + "]";
  EXPECT_EQ(Body(""), all);
  HttpAnswer a = GetObjects(ctx_, "{}");
  EXPECT_EQ(a.Body, all);
  EXPECT_EQ(a.ContentType, "text/json; charset=utf-8");
  EXPECT_EQ(a.ContentEncoding, "utf-8");
  // The cursor row of "mesmaps" stays on the last picture read.
  EXPECT_EQ(ctx_.Pictures.RecordIndexValue, 2);
}

TEST_F(ObjectsTest, ObjectIdFilter) {
  struct Case {
    const char* body;
    std::string expected;
  } cases[] = {
      {R"({"object_id":"102"})", "[" + kObject102 + "]"},
      {R"({"object_id":102})", "[" + kObject102 + "]"},
      {R"({"object_id" : 250})", "[" + kObject250 + "]"},
      {R"({"object_id":"abc"})", "[]"},  // counts as 0: no such object
      {R"({"object_id":103})", "[]"},    // not selected
      {R"({"object_id":"999"})", "[]"},
      {R"({"object_id":""})", "[" + kObject101 + "," + kObject102 + "," + kObject250 + "]"},
      {"garbage", "[" + kObject101 + "," + kObject102 + "," + kObject250 + "]"},
  };
  for (const auto& c : cases) EXPECT_EQ(Body(c.body), c.expected) << c.body;
}

TEST_F(ObjectsTest, NumericFilterZeroFindsObjectZero) {
  int32_t z = ctx_.Objects.AddRow(0);
  ctx_.Objects.Cell(z, 139).Raw = {0x20};
  std::string body = Body(R"({"object_id":"abc"})");
  EXPECT_EQ(body.rfind(R"([{"passport":{"object_id":"0",)", 0), 0u) << body;
}

TEST_F(ObjectsTest, NoSelectedObjectGivesEmptyArray) {
  for (auto& row : ctx_.Objects.Rows) row[139].Raw = {0x00};
  EXPECT_EQ(Body(""), "[]");
  test::FakeContext empty;
  EXPECT_EQ(GetObjects(empty, "").Body, "[]");
}

TEST_F(ObjectsTest, BodyIsValidJson) {
  test::TempDir dir;
  auto file = dir.path() / "objects.json";
  std::ofstream(file, std::ios::binary) << Body("");
  std::string cmd = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1],encoding=\"utf-8\"));"
                    " assert len(d)==3 and d[0][\"passport\"][\"name\"]==\"Склад \\\"Север\\\"\"'"
                    " " + file.string();
  EXPECT_EQ(std::system(cmd.c_str()), 0);
}

}  // namespace
}  // namespace ab
