#include "web/web_api.h"

#include <gtest/gtest.h>

#include "fake_context.h"

namespace ab {
namespace {

// "Доступ запрещен Имя-" / " Пароль-" in Windows-1251.
const std::string kDeniedUser =
    "\xc4\xee\xf1\xf2\xf3\xef \xe7\xe0\xef\xf0\xe5\xf9\xe5\xed \xc8\xec\xff-";
const std::string kDeniedPassword = " \xcf\xe0\xf0\xee\xeb\xfc-";

class WebApiTest : public ::testing::Test {
 protected:
  WebApiTest() : api_(ctx_) {
    ctx_.Config.HttpUserName = "admin";
    ctx_.Config.HttpPassword = "qlumb";
    ctx_.Config.PublicAddress = "10.0.0.5:8090";
  }

  HttpAnswer Call(const std::string& path, const std::string& body = "",
                  const std::string& user = "", const std::string& password = "") {
    HttpRequest r;
    r.Method = "GET";
    r.Path = path;
    r.Host = "bridge:8090";
    r.RemoteAddress = "192.0.2.7";
    r.Body = body;
    r.UserName = user;
    r.Password = password;
    return api_.IdHTTPServer1CommandGet(r);
  }

  test::FakeContext ctx_;
  WebApi api_;
};

TEST_F(WebApiTest, SpiWithoutOrWithWrongCredentialsIsEmptyAndOnlyReported) {
  struct Case {
    const char* user;
    const char* password;
  } cases[] = {{"", ""}, {"admin", "QLUMB"}, {"Admin", "qlumb"}, {"admin", ""}, {"x", "y"}};
  std::vector<std::string> expected;
  for (const auto& c : cases) {
    HttpAnswer a = Call("/spi", "<ns:GetObjectsReq></ns:GetObjectsReq>", c.user, c.password);
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.Body, "");
    EXPECT_EQ(a.ContentType, "");
    expected.push_back(kDeniedUser + c.user + kDeniedPassword + c.password);
  }
  EXPECT_EQ(ctx_.StatusLines, expected);
  EXPECT_EQ(ctx_.Figures.MesRequests.load(), 0);
  EXPECT_EQ(ctx_.Figures.MesLastRequestTicks.load(), 0u);
  EXPECT_TRUE(ctx_.Log().empty());
}

TEST_F(WebApiTest, SpiWithCredentialsCountsLogsAndSetsContentType) {
  HttpAnswer a = Call("/spi", "", "admin", "qlumb");
  EXPECT_EQ(a.Status, 200);
  EXPECT_EQ(a.Body, "");
  EXPECT_EQ(a.ContentType, "text/json; charset=utf-8");
  EXPECT_EQ(a.ContentEncoding, "utf-8");
  EXPECT_EQ(ctx_.Figures.MesRequests.load(), 1);
  EXPECT_EQ(ctx_.Figures.MesLastRequestTicks.load(), TickCount(ctx_.Time));
  EXPECT_EQ(ctx_.Log(), std::vector<std::string>{"< 192.0.2.7 "});
  EXPECT_TRUE(ctx_.StatusLines.empty());
  EXPECT_FALSE(ctx_.DailyLogWithoutLock);
}

TEST_F(WebApiTest, SafeCityDispatchIsExactAndCaseSensitive) {
  struct Case {
    const char* path;
    int32_t counted;
    const char* body;
  } cases[] = {
      {"/getobjects", 0, ""},
      {"/GetObjects/", 0, ""},
      {"/GetEvents/", 0, ""},
      {"/Spi", 0, ""},
      {"/spi/", 0, ""},
      {"/", 0, ""},
      {"/GetPictur", 0, ""},
      {"/GetObjects", 1, "[]"},
      {"/GetEvents", 1, "[]"},
      {"/GetPicture", 1, "FileNotFound"},
      {"/GetPictureXYZ", 1, "FileNotFound"},
      {"/GetPicture&n=abc", 1, "FileNotFound"},
  };
  for (const auto& c : cases) {
    int32_t before = ctx_.Figures.BgRequests.load();
    size_t lines = ctx_.Log().size();
    HttpAnswer a = Call(c.path);
    EXPECT_EQ(a.Status, 200) << c.path;
    EXPECT_EQ(a.Body, c.body) << c.path;
    EXPECT_EQ(ctx_.Figures.BgRequests.load() - before, c.counted) << c.path;
    ASSERT_EQ(ctx_.Log().size(), lines + 1) << c.path;
    EXPECT_EQ(ctx_.Log().back(), std::string("bridge:8090 ") + c.path);
  }
  EXPECT_TRUE(ctx_.Commands().empty());
  EXPECT_TRUE(ctx_.StatusLines.empty());
  EXPECT_FALSE(ctx_.DailyLogWithoutLock);
}

TEST_F(WebApiTest, ContentTypesPerResource) {
  HttpAnswer objects = Call("/GetObjects");
  EXPECT_EQ(objects.ContentType, "text/json; charset=utf-8");
  EXPECT_EQ(objects.ContentEncoding, "utf-8");
  HttpAnswer events = Call("/GetEvents");
  EXPECT_EQ(events.ContentType, "text/json");
  EXPECT_EQ(events.ContentEncoding, "UTF-8");
  HttpAnswer picture = Call("/GetPicture&n=0");
  EXPECT_EQ(picture.ContentType, "");
  EXPECT_EQ(picture.ContentEncoding, "");
  HttpAnswer other = Call("/other");
  EXPECT_EQ(other.ContentType, "");
  EXPECT_EQ(other.Body, "");
}

TEST_F(WebApiTest, FailingResourceThrowsAfterCounting) {
  EXPECT_THROW(Call("/GetEvents", "{\"events_date\":\"abc\"}"), std::invalid_argument);
  EXPECT_EQ(ctx_.Figures.BgRequests.load(), 1);
  EXPECT_EQ(ctx_.Figures.BgLastRequestTicks.load(), TickCount(ctx_.Time));
}

}  // namespace
}  // namespace ab
