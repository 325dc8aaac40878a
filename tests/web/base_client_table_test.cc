#include "web/base_client_table.h"

#include <gtest/gtest.h>

#include <fstream>

#include "fake_context.h"
#include "support/temp_dir.h"
#include "tables/table_file_writer.h"
#include "web/objects_resource.h"
#include "web/picture_resource.h"
#include "web/spi_service.h"

namespace ab {
namespace {

using test::Cp;

FieldData Field(std::string name, uint8_t type, std::vector<int64_t> numbers = {},
                int32_t width = 0) {
  FieldData f;
  f.Name = std::move(name);
  f.Type = type;
  f.Width = width;
  f.Numbers = std::move(numbers);
  return f;
}

FieldData Texts(std::string name, uint8_t type, int32_t width,
                std::vector<std::optional<std::string>> texts) {
  FieldData f = Field(std::move(name), type, {}, width);
  f.Texts = std::move(texts);
  return f;
}

// Fields 1..count, given ones at their numbers, the others empty texts.
TableData Table(const std::string& name, int32_t rows, int32_t count,
                std::map<int32_t, FieldData> given) {
  TableData t;
  t.Name = name;
  t.RowCount = rows;
  for (int32_t n = 1; n <= count; ++n) {
    auto it = given.find(n);
    t.Fields.push_back(it != given.end() ? it->second : Field("f" + std::to_string(n), 24));
  }
  return t;
}

// Object 7 selected, 9 not, 8 deleted; picture 21 of object 7, picture 22 deleted; person 31.
class RealTablesTest : public ::testing::Test {
 protected:
  class Context : public test::FakeContext {
   public:
    WebTableSet Set;
    WebTableSet Tables() override { return Set; }
  };

  RealTablesTest() {
    FieldData lon = Field("lon", 6), lat = Field("lat", 6);
    lon.Reals = {37.5, 0, 0};
    lat.Reals = {55.75, 0, 0};
    Load(objects_, Table("object", 3, 210,
                         {{1, Field("n_abs", 1, {7, 9, 8})},
                          {2, Field("p_d", 3, {0, 0, 1})},
                          {4, Field("r_dt", 8, {762962829, 0, 0})},  // 2024-03-05 14:07:09
                          {5, Texts("typeo", 24, 0, {"3", "3", "3"})},
                          {6, Texts("number", 24, 0, {"1007", "1009", "1008"})},
                          {8, Texts("name", 24, 0, {Cp("Школа 1"), "B", "C"})},
                          {9, Texts("addr", 2, 40, {Cp("ул. Мира"), "", ""})},
                          {12, Texts("house", 2, 10, {"5", "", ""})},
                          {25, lon},
                          {26, lat},
                          {29, Texts("state", 11, 4, {std::string("\0\0\0\0", 4), "", ""})},
                          {139, Texts("flags", 11, 2,
                                      {std::string("\x20\0", 2), std::string("\0\0", 2),
                                       std::string("\x20\0", 2)})},
                          {206, Field("st", 1, {2, 0, 0})},
                          {207, Field("st_dt", 8, {86400, 0, 0})},
                          {208, Field("up_dt", 8, {172800, 0, 0})},
                          {209, Texts("sensor", 2, 10, {"Z1", "", ""})},
                          {210, Texts("place", 2, 20, {Cp("Вход"), "", ""})}}));
    Load(pictures_, Table("mesmaps", 2, 9,
                          {{1, Field("n_abs", 1, {21, 22})},
                           {2, Field("p_d", 3, {0, 1})},
                           {7, Field("obj", 1, {7, 7})},
                           {8, Texts("file", 2, 32, {"plan.png", "old.png"})},
                           {9, Texts("caption", 24, 0, {Cp("Этаж 1"), "x"})}}));
    Load(persons_, Table("otvl", 1, 11,
                         {{1, Field("n_abs", 1, {31})},
                          {2, Field("p_d", 3, {0})},
                          {7, Texts("fio", 24, 0, {Cp("Петров")})},
                          {8, Texts("pos", 24, 0, {""})},
                          {11, Texts("mob", 2, 16, {"+7900"})}}));
    ctx_.Config.PublicAddress = "h:1";
    ctx_.Config.HttpUserName = "admin";
    ctx_.Config.WorkDir = dir_.path();
    lists_persons_ = {{1}, {}, {}};
    lists_pictures_ = {{1}, {}, {}};
    ctx_.Set = {&object_view_, &person_view_, &picture_view_, 7, &lists_persons_, &lists_pictures_};
  }

  void Load(TBaseClient& t, const TableData& data) {
    t.NameTable = data.Name;
    t.RawFile = true;
    ASSERT_EQ(t.LoadRawImage(BuildRawTable(data)), TableLoadResult::kLoaded);
  }

  test::TempDir dir_;
  TBaseClient objects_{dir_.path()}, persons_{dir_.path()}, pictures_{dir_.path()};
  BaseClientTable object_view_{objects_}, person_view_{persons_}, picture_view_{pictures_};
  PerObjectLists lists_persons_, lists_pictures_;
  Context ctx_;
};

TEST_F(RealTablesTest, PassportsFromLoadedTables) {
  EXPECT_EQ(GetObjects(ctx_, "").Body,
            R"([{"passport":{"object_id":"7","update_date":1709618829,"object_state":"Active",)"
            R"("name":"Школа 1","area_code":null,"postcode":null,"fias":null,"kladr":null,)"
            R"("addr":"ул. Мира 5","longitude":"37.500000","latitude":"55.750000","type":null,)"
            R"("phone":null,"serviceorg":null,"serviceorg_phone":null,"tech_man":null,)"
            R"("operator":null,"manager":null,"keys":null,"pictures":[{"pic_id":"21",)"
            R"("url":"http://h:1/GetPicture&n=21","text":"Этаж 1"}],"resp_persons":[)"
            R"({"pers_id":"31","fullname":"Петров","home_phone":null,"work_phone":null,)"
            R"("mobile_phone":"+7900","position":null}]}}])");
  EXPECT_EQ(pictures_.RecordIndex(), 1);
}

TEST_F(RealTablesTest, SpiStateAndAcknowledgementFromLoadedTables) {
  std::string state = ServeSpi(
      ctx_, R"(<ns:GetCurrentStateReq><Obj id="7"/><Obj id="9"/></ns:GetCurrentStateReq>)");
  EXPECT_NE(state.find(R"(<ObjState id="7"><Status code="3" ts="86400000"/>)"
                       R"(<Sensor id="Z1" location="Вход"><Code id="3" ts="86400000"/>)"
                       R"(</Sensor></ObjState></ns:GetCurrentStateRes>)"),
            std::string::npos)
      << state;
  EXPECT_EQ(state.find("id=\"9\""), std::string::npos);
  // Object 9 is not selected, yet acknowledged.
  EXPECT_NE(ServeSpi(ctx_, R"(<ns:SendAckReq id="9"/>)").find(R"(<ObjState id="9">)"),
            std::string::npos);
  EXPECT_EQ(ctx_.Commands().back(),
            Cp(R"({"$c$":"netwritesoobe","command":"netwritesoobe","data":[{"ty":"7F01","so":{)"
               R"("sy:by":"3","nu:in":"1009","co:st,4":"0077","cl:wo":"32","na:st":"B",)"
               R"("de:st":"Отправлен наряд в МЧС","us:st":"admin"}}]})"));
  // The deleted object 8 is not in the view: nothing found, nothing queued.
  EXPECT_EQ(ServeSpi(ctx_, R"(<ns:SendAckReq id="8"/>)"), "");
  EXPECT_EQ(ctx_.Commands().size(), 1u);
}

TEST_F(RealTablesTest, PictureNameFromLoadedTable) {
  LinkSignal signal(ctx_.Time);
  std::filesystem::create_directory(dir_.path() / "temp");
  ctx_.OnPush = [&](const std::string&) {
    std::ofstream(dir_.path() / "temp" / "plan.png", std::ios::binary) << "PNG";
    ctx_.Arrived = true;
  };
  PictureResource pictures;
  EXPECT_EQ(pictures.Get(ctx_, signal, "/GetPicture&n=21").Body, "PNG");
  EXPECT_EQ(ctx_.Commands().at(0),
            R"({"$c$":"getfile","nameinserv":"maps\\plan.png","name":"plan.png"})");
  EXPECT_EQ(pictures.Get(ctx_, signal, "/GetPicture&n=22").Body, "FileNotFound");
}

}  // namespace
}  // namespace ab
