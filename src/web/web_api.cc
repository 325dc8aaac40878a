#include "web/web_api.h"

#include <chrono>

#include "web/events_resource.h"
#include "web/objects_resource.h"
#include "web/request_text.h"
#include "web/spi_service.h"

namespace ab {
namespace {

// "Доступ запрещен Имя-" and " Пароль-" in Windows-1251.
constexpr char kDeniedUser[] =
    "\xc4\xee\xf1\xf2\xf3\xef \xe7\xe0\xef\xf0\xe5\xf9\xe5\xed \xc8\xec\xff-";
constexpr char kDeniedPassword[] = " \xcf\xe0\xf0\xee\xeb\xfc-";

int64_t WallNs(const Clock& clock) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             clock.WallNow().time_since_epoch())
      .count();
}

}  // namespace

WebApi::WebApi(WebContext& ctx, HttpServerLimits limits)
    : ctx_(ctx),
      signal_(ctx.GetClock()),
      server_([this](const HttpRequest& r) { return IdHTTPServer1CommandGet(r); }, limits) {}

WebApi::~WebApi() { Stop(); }

bool WebApi::Start(uint16_t port, const std::string& address) {
  signal_.Resume();
  return server_.Start(port, address);
}

void WebApi::Stop() {
  signal_.Cancel();
  server_.Stop();
}

void WebApi::CountBgRequest() {
  WebCounters& c = ctx_.Counters();
  c.BgRequests.fetch_add(1);
  c.BgLastRequestTicks.store(TickCount(ctx_.GetClock()));
  c.BgLastRequestWall.store(WallNs(ctx_.GetClock()));
}

HttpAnswer WebApi::ServeSpiBranch(const HttpRequest& r) {
  const WebSettings& s = ctx_.Settings();
  // Both compared in full so that the time taken tells nothing about which one differed.
  bool user_ok = ConstantTimeEquals(r.UserName, s.HttpUserName);
  bool password_ok = ConstantTimeEquals(r.Password, s.HttpPassword);
  if (!(user_ok && password_ok)) {
    ctx_.AddStatusLine(std::string(kDeniedUser) + r.UserName + kDeniedPassword + r.Password);
    return {};
  }
  WebCounters& c = ctx_.Counters();
  c.MesLastRequestTicks.store(TickCount(ctx_.GetClock()));
  c.MesLastRequestWall.store(WallNs(ctx_.GetClock()));
  c.MesRequests.fetch_add(1);
  {
    ControllerLock hold(ctx_);
    ctx_.WriteDailyLog("< " + r.RemoteAddress + " " + r.Body);
  }
  HttpAnswer a;
  a.ContentType = "text/json; charset=utf-8";
  a.ContentEncoding = "utf-8";
  a.Body = ServeSpi(ctx_, r.Body);
  return a;
}

HttpAnswer WebApi::IdHTTPServer1CommandGet(const HttpRequest& r) {
  const std::string& path = r.Path;
  if (path == "/spi") return ServeSpiBranch(r);
  {
    ControllerLock hold(ctx_);
    ctx_.WriteDailyLog(r.Host + " " + path);
  }
  if (path.compare(0, 11, "/GetPicture") == 0) {
    CountBgRequest();
    return pictures_.Get(ctx_, signal_, path);
  }
  if (path == "/GetEvents") {
    CountBgRequest();
    return GetEvents(ctx_, signal_, r.Body);
  }
  if (path == "/GetObjects") {
    CountBgRequest();
    return GetObjects(ctx_, r.Body);
  }
  return {};
}

}  // namespace ab
