#pragma once
// The HTTP API: the request handler with its dispatch on the path, the credentials check of the
// SPI branch, the counters and the daily-log lines, plus the server that runs it.

#include <cstdint>

#include "web/http_message.h"
#include "web/http_server.h"
#include "web/link_signal.h"
#include "web/picture_resource.h"
#include "web/web_context.h"

namespace ab {

class WebApi {
 public:
  // The context must outlive the API.
  explicit WebApi(WebContext& ctx, HttpServerLimits limits = {});
  ~WebApi();
  WebApi(const WebApi&) = delete;
  WebApi& operator=(const WebApi&) = delete;

  // Every request with method GET, POST or HEAD. Throws for a failing resource (the server
  // turns that into 500 with the message).
  HttpAnswer IdHTTPServer1CommandGet(const HttpRequest& request);

  // Started and stopped by the status tick. Stop also ends handlers waiting for the link.
  bool Start(uint16_t port, const std::string& address = "0.0.0.0");
  void Stop();
  bool Running() const { return server_.Running(); }
  uint16_t Port() const { return server_.Port(); }

  // The controller calls this whenever the link stores a package in a cursor or completes a
  // file, to wake handlers waiting for either.
  void NotifyLinkChanged() { signal_.Notify(); }
  LinkSignal& Signal() { return signal_; }

 private:
  void CountBgRequest();
  HttpAnswer ServeSpiBranch(const HttpRequest& request);

  WebContext& ctx_;
  LinkSignal signal_;
  PictureResource pictures_;
  HttpServer server_;
};

}  // namespace ab
