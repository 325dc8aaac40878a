#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "http_client.h"
#include "support/temp_dir.h"
#include "web/fake_context.h"
#include "web/web_api.h"

namespace ab {
namespace {

namespace http = boost::beast::http;
using test::Cp;
using test::Fetch;
using test::RawExchange;

// The API on a loopback port with one selected object, 5, named with quotes and an ampersand.
class WebApiHttpTest : public ::testing::Test {
 protected:
  WebApiHttpTest() {
    ctx_.Config.HttpUserName = "admin";
    ctx_.Config.HttpPassword = "qlumb";
    ctx_.Config.PublicAddress = "127.0.0.1:8090";
    ctx_.Config.WorkDir = dir_.path();
    int32_t row = ctx_.Objects.AddRow(5);
    ctx_.Objects.Cell(row, 139).Raw = {0x20};
    ctx_.Objects.SetText(row, 8, Cp("Дом \"Книги\" & Co"));
    ctx_.Objects.Cell(row, 206).Integer = 1;
    ctx_.MinObjectRecord = 5;
    ctx_.ObjectPersons = {{}};
    ctx_.ObjectPictures = {{}};
    EXPECT_TRUE(api_.Start(0, "127.0.0.1"));
    port_ = api_.Port();
  }
  ~WebApiHttpTest() override { api_.Stop(); }

  // Runs curl with the arguments against the path; returns the body it received.
  std::string Curl(const std::string& args, const std::string& path) {
    auto out = dir_.path() / "curl.out";
    std::string cmd = "curl -s -o " + out.string() + " " + args +
                      " 'http://127.0.0.1:" + std::to_string(port_) + path + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    auto file = dir_.path() / name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file.string();
  }
  int Shell(const std::string& cmd) { return std::system(cmd.c_str()); }

  test::TempDir dir_;
  test::FakeContext ctx_;
  WebApi api_{ctx_};
  uint16_t port_ = 0;
};

const char kSoapGetObjects[] =
    "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:ns=\"urn://alarm-bridge/services/spi/types/1.1\"><soapenv:Body>"
    "<ns:GetObjectsReq><Obj id=\"5\"/></ns:GetObjectsReq></soapenv:Body></soapenv:Envelope>";

TEST_F(WebApiHttpTest, SpiWithoutCredentialsIsAnEmpty200) {
  auto r = Fetch(port_, http::verb::get, "/spi");
  ASSERT_TRUE(r.Answered);
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body, "");
  EXPECT_EQ(r.Headers["Content-Type"], "text/html");
  ASSERT_EQ(ctx_.StatusLines.size(), 1u);
  EXPECT_EQ(ctx_.StatusLines[0], Cp("Доступ запрещен Имя- Пароль-"));
  EXPECT_EQ(ctx_.Figures.MesRequests.load(), 0);
}

TEST_F(WebApiHttpTest, SpiAnswerOverHttpIsWellFormedUtf8) {
  auto r = Fetch(port_, http::verb::post, "/spi", kSoapGetObjects,
                 {{"Authorization", "Basic YWRtaW46cWx1bWI="}});
  ASSERT_EQ(r.Status, 200);
  EXPECT_EQ(r.Headers["Content-Type"], "text/json; charset=utf-8");
  EXPECT_EQ(r.Headers["Content-Encoding"], "utf-8");
  EXPECT_NE(r.Body.find("name=\"Дом &quot;Книги&quot; &amp; Co\""), std::string::npos) << r.Body;
  auto file = dir_.path() / "spi.xml";
  std::ofstream(file, std::ios::binary) << r.Body;
  EXPECT_EQ(Shell("xmllint --noout " + file.string()), 0);
  EXPECT_EQ(ctx_.Log().at(0), std::string("< 127.0.0.1 ") + kSoapGetObjects);
}

TEST_F(WebApiHttpTest, SafeCityEdgeCasesOverHttp) {
  EXPECT_EQ(Fetch(port_, http::verb::get, "/GetPicture?n=7").Body, "FileNotFound");
  EXPECT_EQ(Fetch(port_, http::verb::get, "/getobjects").Body, "");
  EXPECT_EQ(Fetch(port_, http::verb::get, "/GetEvents", "{\"events_date\":\"abc\"}").Status, 500);
  EXPECT_EQ(
      RawExchange(port_, "GET /GetObjects HTTP/1.1\r\nHost: h\r\nAuthorization: Bearer t\r\n\r\n",
                  false),
      "");
  EXPECT_EQ(ctx_.Figures.BgRequests.load(), 2);
}

TEST_F(WebApiHttpTest, HeadAnnouncesTheBodyWithoutSendingIt) {
  std::string body = Fetch(port_, http::verb::get, "/GetObjects").Body;
  std::string raw = RawExchange(port_, "HEAD /GetObjects HTTP/1.1\r\nHost: h\r\n\r\n", false);
  EXPECT_NE(raw.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos)
      << raw;
  EXPECT_NE(raw.find("Content-Type: text/json; charset=utf-8\r\n"), std::string::npos);
  EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n");
}

TEST_F(WebApiHttpTest, CurlClients) {
  std::string objects = Curl("", "/GetObjects");
  std::string json = WriteFile("objects.json", objects);
  EXPECT_EQ(
      Shell("jq -e '.[0].passport.name == \"Дом \\\"Книги\\\" & Co\"' " + json + " >/dev/null"), 0)
      << objects;
  EXPECT_EQ(Curl("-d '{\"object_id\":6}'", "/GetObjects"), "[]");
  std::string soap = WriteFile("request.xml", kSoapGetObjects);
  std::string spi = Curl("-u admin:qlumb --data-binary @" + soap, "/spi");
  EXPECT_NE(spi.find("<ns:GetObjectsRes><ObjDesc id=\"5\""), std::string::npos) << spi;
  EXPECT_EQ(Curl("-u admin:wrong --data-binary @" + soap, "/spi"), "");
  // A body over 4 MiB is refused.
  std::string big = WriteFile("big.bin", std::string(4 * 1024 * 1024 + 1, 'x'));
  std::string code = dir_.path() / "code";
  EXPECT_EQ(Shell("curl -s -o /dev/null -w '%{http_code}' --data-binary @" + big +
                  " http://127.0.0.1:" + std::to_string(port_) + "/GetObjects > " + code),
            0);
  std::ifstream in(code);
  std::string status;
  in >> status;
  EXPECT_EQ(status, "413");
}

TEST_F(WebApiHttpTest, StopEndsAHandlerWaitingForTheLink) {
  ctx_.Bg.Count = 5;
  ctx_.Bg.Position = 0;
  std::thread client([&] {
    auto r = Fetch(port_, http::verb::get, "/GetEvents", "{\"inc_counter\":0}");
    EXPECT_FALSE(r.Answered);
  });
  while (api_.Signal().Waiters() == 0) std::this_thread::yield();
  api_.Stop();  // returns only once every connection thread has been joined
  EXPECT_FALSE(api_.Running());
  client.join();
  EXPECT_EQ(ctx_.Polls, 1);
}

}  // namespace
}  // namespace ab
