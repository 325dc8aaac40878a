#include "web/spi_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "fake_context.h"
#include "support/temp_dir.h"

namespace ab {
namespace {

using test::Cp;

const std::string kStart =
    R"(<soapenv:Envelope xmlns:soapenv="http://schemas.xmlsoap.org/soap/envelope/" )"
    R"(xmlns:ns="urn://alarm-bridge/services/spi/types/1.1"><soapenv:Header/><soapenv:Body>)";
const std::string kEnd = "</soapenv:Body></soapenv:Envelope>";
const std::string kNs = R"(xmlns:ns="urn://alarm-bridge/services/spi/types/1.1")";

std::string Request(const std::string& inner) {
  return R"(<soapenv:Envelope xmlns:soapenv="http://schemas.xmlsoap.org/soap/envelope/" )"
         R"(xmlns:ns="urn://alarm-bridge/services/spi/types/1.1"><soapenv:Header/>)"
         "<soapenv:Body>" +
         inner + "</soapenv:Body></soapenv:Envelope>";
}

// Objects 101 and 102 selected, 103 not; 101 has two responsible persons.
class SpiTest : public ::testing::Test {
 protected:
  SpiTest() {
    ctx_.Config.HttpUserName = "admin";
    ctx_.Config.CompanyName = Cp("ООО Сервис");
    ctx_.Config.CompanyPhone = "8-800";
    ctx_.Config.CompanyAddress = Cp("Москва, ул. Мира 'Б'");
    auto& o = ctx_.Objects;
    o.FieldNames = {{"name", 8}, {"typeo", 30}, {"number", 31}};
    int32_t a = o.AddRow(101);
    o.Cell(a, 139).Raw = {0x20};
    o.SetText(a, 8, Cp("ООО \"Рога & Копыта\"/1"));
    o.SetText(a, 21, Cp("Магазин"));
    o.SetText(a, 9, Cp("г. Москва"));
    o.SetText(a, 10, Cp("ул. Тверская"));
    o.SetText(a, 12, Cp("д. 1"));
    o.Cell(a, 26).Float = 55.75f;
    o.Cell(a, 25).Float = 37.5f;
    o.Cell(a, 206).Integer = 3;
    o.Cell(a, 207).Cardinal = 86400;  // 2000-01-02 00:00:00
    o.Cell(a, 208).Cardinal = 4294967295u;
    o.SetText(a, 209, "S1");
    o.SetText(a, 210, Cp("Зал <1>"));
    o.SetText(a, 30, "5");
    o.SetText(a, 31, "1001");
    int32_t b = o.AddRow(102);
    o.Cell(b, 139).Raw = {0x20};
    o.SetText(b, 8, Cp("Пост"));
    int32_t c = o.AddRow(103);
    o.Cell(c, 139).Raw = {0x00};
    o.SetText(c, 8, "Hidden");
    o.Cell(c, 206).Integer = -1;
    o.Cell(c, 207).Cardinal = 1;
    o.SetText(c, 30, "7");
    o.SetText(c, 31, "1003");

    int32_t p1 = ctx_.Persons.AddRow(31);
    ctx_.Persons.SetText(p1, 7, Cp("Иванов И.И."));
    ctx_.Persons.SetText(p1, 8, Cp("Охранник"));
    ctx_.Persons.SetText(p1, 11, "+79001234567");
    ctx_.Persons.AddRow(32);
    ctx_.MinObjectRecord = 101;
    ctx_.ObjectPersons = {{1, 2}, {}, {}};
  }

  std::string Serve(const std::string& body) {
    std::string answer = ServeSpi(ctx_, body);
    if (!answer.empty()) answers_.push_back(answer);
    return answer;
  }

  test::FakeContext ctx_;
  std::vector<std::string> answers_;  // checked for well-formedness at the end
  void TearDown() override {
    test::TempDir dir;
    int i = 0;
    for (const auto& a : answers_) {
      auto file = dir.path() / ("answer" + std::to_string(i++) + ".xml");
      std::ofstream(file, std::ios::binary) << a;
      std::string cmd = "xmllint --noout " + file.string();
      EXPECT_EQ(std::system(cmd.c_str()), 0) << a;
    }
  }
};

const std::string kDesc101 =
    R"(<ObjDesc id="101" name="ООО &quot;Рога &amp; Копыта&quot;/1" type="Магазин" )"
    R"(address="г. Москва ул. Тверская д. 1" lat="55.750000" lon="37.500000">)"
    R"(<Contacts fio="Иванов И.И." phone="+79001234567" addInfo="Охранник"/>)"
    R"(<Contacts fio="" phone="" addInfo=""/>)"
    R"(<Maintainer name="ООО Сервис" phone="8-800" address="Москва, ул. Мира &apos;Б&apos;"/>)"
    R"(</ObjDesc>)";
const std::string kDesc102 =
    R"(<ObjDesc id="102" name="Пост" type="" address="  " lat="0.000000" lon="0.000000">)"
    R"(<Maintainer name="ООО Сервис" phone="8-800" address="Москва, ул. Мира &apos;Б&apos;"/>)"
    R"(</ObjDesc>)";

TEST_F(SpiTest, GetObjectsListsSelectedObjects) {
  for (const char* inner : {"<ns:GetObjectsReq/>", "<ns:GetObjectsReq></ns:GetObjectsReq>"}) {
    EXPECT_EQ(Serve(Request(inner)),
              kStart +
                  R"(<ns:GetObjectsRes><Obj id="101" tsLastUpdate="4294967295000"/>)"
                  R"(<Obj id="102" tsLastUpdate="0"/></ns:GetObjectsRes>)" +
                  kEnd)
        << inner;
  }
}

TEST_F(SpiTest, GetObjectsDescribesRequestedSelectedObjectsInRequestOrder) {
  std::string body = Request(
      R"(<ns:GetObjectsReq><Obj id="102"/><Obj id="103"/><Obj id="101"/><Obj id="101"/>)"
      R"(<Obj id="x"/></ns:GetObjectsReq>)");
  EXPECT_EQ(Serve(body), kStart + "<ns:GetObjectsRes>" + kDesc102 + kDesc101 + kDesc101 +
                             "</ns:GetObjectsRes>" + kEnd);
  // Tags written otherwise give an answer element without content.
  std::string open_with_attr =
      Request(R"(<ns:GetObjectsReq a="1"><Obj id="101"/></ns:GetObjectsReq>)");
  EXPECT_EQ(Serve(open_with_attr), kStart + "<ns:GetObjectsRes></ns:GetObjectsRes>" + kEnd);
}

TEST_F(SpiTest, GetCurrentStateGivesStatusAndSensorOfSelectedObjects) {
  std::string body = Request(
      R"(<ns:GetCurrentStateReq><Obj id="102"/><Obj id="103"/><Obj id="101"/>)"
      R"(</ns:GetCurrentStateReq>)");
  EXPECT_EQ(Serve(body),
            kStart + "<ns:GetCurrentStateRes " + kNs +
                R"(><ObjState id="102"><Status code="1" ts="0"/><Sensor id="" location="">)"
                R"(<Code id="1" ts="0"/></Sensor></ObjState>)"
                R"(<ObjState id="101"><Status code="4" ts="86400000"/>)"
                R"(<Sensor id="S1" location="Зал &lt;1&gt;"><Code id="4" ts="86400000"/>)"
                R"(</Sensor></ObjState></ns:GetCurrentStateRes>)" +
                kEnd);
  EXPECT_EQ(Serve(Request("<ns:GetCurrentStateReq/>")),
            kStart + "<ns:GetCurrentStateRes " + kNs + "></ns:GetCurrentStateRes>" + kEnd);
}

TEST_F(SpiTest, SendAckQueuesTheConsoleMessageForAnyObject) {
  struct Case {
    const char* id;
    std::string status;
    std::string message;
  } cases[] = {
      {"101", R"(<Status code="4" ts="86400000"/>)",
       R"({"ty":"7F01","so":{"sy:by":"5","nu:in":"1001","co:st,4":"0077","cl:wo":"32",)"
       R"("na:st":"ООО \"Рога & Копыта\"\/1","de:st":"Отправлен наряд в МЧС","us:st":"admin"}})"},
      {"103", R"(<Status code="0" ts="1000"/>)",
       R"({"ty":"7F01","so":{"sy:by":"7","nu:in":"1003","co:st,4":"0077","cl:wo":"32",)"
       R"("na:st":"Hidden","de:st":"Отправлен наряд в МЧС","us:st":"admin"}})"},
  };
  for (const auto& c : cases) {
    std::string body = Request(std::string(R"(<ns:SendAckReq objId=")") + c.id +
                               R"(" x="9"><ns:GetObjectsReq/></ns:SendAckReq>)");
    EXPECT_EQ(Serve(body), kStart + "<ns:SendAckRes " + kNs + "><ObjState id=\"" + c.id +
                               "\">" + c.status + "</ObjState></ns:SendAckRes>" + kEnd);
    ASSERT_FALSE(ctx_.Commands().empty());
    EXPECT_EQ(ctx_.Commands().back(),
              Cp(R"({"$c$":"netwritesoobe","command":"netwritesoobe","data":[)" + c.message +
                 "]}"));
  }
  EXPECT_EQ(ctx_.Commands().size(), 2u);
}

TEST_F(SpiTest, UnansweredRequestsGiveNoBodyAndQueueNothing) {
  for (const std::string& body :
       {Request(R"(<ns:SendAckReq objId="abc"/>)"), Request(R"(<ns:SendAckReq objId="999"/>)"),
        Request("<ns:SendAckReq/>"), std::string(""), std::string("hello"),
        Request("<GetObjectsReq/>")}) {
    EXPECT_EQ(Serve(body), "") << body;
  }
  EXPECT_TRUE(ctx_.Commands().empty());
  // Only the request lines would be there; the service itself logs nothing for these.
  EXPECT_TRUE(ctx_.Log().empty());
}

TEST_F(SpiTest, AckOfUnknownObjectLetsACurrentStateRequestBeAnswered) {
  std::string body = Request(
      R"(<ns:SendAckReq objId="999"/><ns:GetCurrentStateReq><Obj id="102"/>)"
      R"(</ns:GetCurrentStateReq>)");
  EXPECT_NE(Serve(body).find(R"(<ObjState id="102">)"), std::string::npos);
  // An answered GetObjectsReq is not followed by a state answer.
  std::string both = Request("<ns:GetObjectsReq/><ns:GetCurrentStateReq></ns:GetCurrentStateReq>");
  EXPECT_EQ(Serve(both).find("GetCurrentStateRes"), std::string::npos);
}

TEST_F(SpiTest, AnswerIsLoggedInTheConsoleCodePage) {
  std::string answer = Serve(Request(R"(<ns:GetCurrentStateReq><Obj id="101"/></ns:GetCurrentStateReq>)"));
  ASSERT_EQ(ctx_.Log().size(), 1u);
  EXPECT_EQ(ctx_.Log()[0], ">" + Cp(answer));
  EXPECT_FALSE(ctx_.DailyLogWithoutLock);
}

TEST(SpiIdsTest, EveryQuotedValueInsideTheElementIsAnId) {
  struct Case {
    const char* body;
    std::vector<int32_t> ids;
  } cases[] = {
      {R"(<ns:GetObjectsReq><Obj id="5"/><Obj id="7" x="8"/></ns:GetObjectsReq>)", {5, 7, 8}},
      {R"(<ns:GetObjectsReq><Obj id="a"/><Obj id=""/></ns:GetObjectsReq>)", {0, 0}},
      {R"(<ns:GetObjectsReq><Obj id="5"/>)", {}},
      {R"(<ns:GetObjectsReq a="1"><Obj id="5"/></ns:GetObjectsReq>)", {}},
      {R"(<ns:GetObjectsReq><Obj id="5/></ns:GetObjectsReq>)", {0}},
      {R"(x="1"<ns:GetObjectsReq></ns:GetObjectsReq>y="2")", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadRequestIds(c.body, "GetObjectsReq"), c.ids) << c.body;
  EXPECT_EQ(ReadAckId(R"(<ns:SendAckReq id="42" b="1"/>)"), 42);
  EXPECT_EQ(ReadAckId(R"(<ns:SendAckReq id="4x"/>)"), 0);
  EXPECT_EQ(ReadAckId(R"(<ns:SendAckReq id="42)"), 42);
  EXPECT_EQ(ReadAckId("<ns:SendAckReq/>"), 0);
}

}  // namespace
}  // namespace ab
