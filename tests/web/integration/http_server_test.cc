#include "web/http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "http_client.h"

namespace ab {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using test::Fetch;
using test::RawExchange;

// A server whose handler records the request it was given and answers with a fixed text.
class HttpServerTest : public ::testing::Test {
 protected:
  void StartServer(HttpServerLimits limits = {}) {
    server_ = std::make_unique<HttpServer>(
        [this](const HttpRequest& r) {
          ++calls_;
          {
            std::lock_guard lk(mutex_);
            last_ = r;
          }
          if (r.Path == "/throw") throw std::runtime_error("resource failed");
          if (r.Path == "/block" || r.Path == "/third") {
            std::unique_lock lk(mutex_);
            events_.push_back("start " + r.Path);
            if (r.Path == "/block") {
              int ticket = waiting_++;
              cv_.wait(lk, [&] { return released_ > ticket; });
            }
          }
          HttpAnswer a;
          if (r.Path == "/typed") {
            a.ContentType = "text/json; charset=utf-8";
            a.ContentEncoding = "utf-8";
          }
          a.Body = "answer:" + r.Body;
          if (r.Path == "/shared") a.SharedBody = shared_;
          return a;
        },
        limits);
    ASSERT_TRUE(server_->Start(0, "127.0.0.1"));
    port_ = server_->Port();
  }
  void TearDown() override {
    if (server_) server_->Stop();
  }
  HttpRequest Last() {
    std::lock_guard lk(mutex_);
    return last_;
  }

  std::unique_ptr<HttpServer> server_;
  uint16_t port_ = 0;
  // Sent for "/shared" in place of the answer's own body.
  std::shared_ptr<const std::string> shared_ = [] {
    std::string text(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 23);
    return std::make_shared<const std::string>(std::move(text));
  }();
  std::atomic<int> calls_{0};
  // Lets one blocked "/block" request go on.
  void Release() {
    std::lock_guard lk(mutex_);
    events_.push_back("released");
    ++released_;
    cv_.notify_all();
  }

  std::mutex mutex_;
  HttpRequest last_;
  std::condition_variable cv_;
  std::vector<std::string> events_;
  int waiting_ = 0;
  int released_ = 0;
};

TEST_F(HttpServerTest, RequestReachesHandlerDecodedAndConnectionCloses) {
  StartServer();
  auto r = Fetch(port_, http::verb::get, "/Get%50icture&n=%31?x=%41", "{\"a\":1}",
                 {{"Authorization", "Basic YWRtaW46cWx1bWI="}});
  ASSERT_TRUE(r.Answered);
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body, "answer:{\"a\":1}");
  EXPECT_EQ(r.Headers["Content-Type"], "text/html");
  EXPECT_EQ(r.Headers.count("Content-Encoding"), 0u);
  EXPECT_EQ(r.Headers["Connection"], "close");
  HttpRequest seen = Last();
  EXPECT_EQ(seen.Method, "GET");
  EXPECT_EQ(seen.Path, "/GetPicture&n=1");
  EXPECT_EQ(seen.Host, "bridge:" + std::to_string(port_));
  EXPECT_EQ(seen.RemoteAddress, "127.0.0.1");
  EXPECT_EQ(seen.UserName, "admin");
  EXPECT_EQ(seen.Password, "qlumb");
}

TEST_F(HttpServerTest, ContentTypeAndEncodingAsTheHandlerSets) {
  StartServer();
  auto r = Fetch(port_, http::verb::post, "/typed", "x");
  EXPECT_EQ(r.Headers["Content-Type"], "text/json; charset=utf-8");
  EXPECT_EQ(r.Headers["Content-Encoding"], "utf-8");
  EXPECT_EQ(r.Body, "answer:x");
}

TEST_F(HttpServerTest, HeadGetsHeadersWithoutBodyBytes) {
  StartServer();
  std::string raw =
      RawExchange(port_, "HEAD /x HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n\r\nabc", false);
  EXPECT_NE(raw.find("HTTP/1.1 200 OK\r\n"), std::string::npos) << raw;
  EXPECT_NE(raw.find("Content-Length: 10\r\n"), std::string::npos) << raw;
  EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n") << raw;
  EXPECT_EQ(Last().Method, "HEAD");
  EXPECT_EQ(Last().Body, "abc");
}

TEST_F(HttpServerTest, SharedBodyIsSentInPlaceOfTheOwnOne) {
  StartServer();
  auto r = Fetch(port_, http::verb::get, "/shared", "x");
  ASSERT_TRUE(r.Answered);
  EXPECT_EQ(r.Headers["Content-Length"], std::to_string(shared_->size()));
  EXPECT_TRUE(r.Body == *shared_) << r.Body.size();
  std::string raw = RawExchange(port_, "HEAD /shared HTTP/1.1\r\nHost: h\r\n\r\n", false);
  EXPECT_NE(raw.find("Content-Length: " + std::to_string(shared_->size()) + "\r\n"),
            std::string::npos)
      << raw;
  EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n") << raw;
  EXPECT_EQ(Fetch(port_, http::verb::get, "/own", "y").Body, "answer:y");
}

TEST_F(HttpServerTest, BodyForms) {
  StartServer();
  struct Case {
    const char* name;
    std::string request;
    bool close_send;
    std::string body;
  } cases[] = {
      {"post without length reads until close",
       "POST /p HTTP/1.1\r\nHost: h\r\n\r\n{\"inc_counter\":5}", true, "{\"inc_counter\":5}"},
      {"chunked",
       "POST /p HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       false, "abc"},
      {"get without length has none", "GET /p HTTP/1.1\r\nHost: h\r\n\r\n", false, ""},
      {"http/1.0", "GET /p HTTP/1.0\r\n\r\n", false, ""},
  };
  for (const auto& c : cases) {
    std::string raw = RawExchange(port_, c.request, c.close_send);
    EXPECT_NE(raw.find("HTTP/1.1 200 OK"), std::string::npos) << c.name;
    EXPECT_EQ(raw.substr(raw.find("\r\n\r\n") + 4), "answer:" + c.body) << c.name;
  }
}

TEST_F(HttpServerTest, ExpectContinueGetsInterimAnswer) {
  StartServer();
  std::string raw = RawExchange(
      port_, "POST /p HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\nok",
      false);
  EXPECT_EQ(raw.rfind("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK", 0), 0u) << raw;
  EXPECT_EQ(Last().Body, "ok");
}

TEST_F(HttpServerTest, NonBasicSchemeIsDroppedWithoutAnswer) {
  StartServer();
  for (const char* scheme : {"Bearer abc", "Digest x", "Negotiate y"}) {
    std::string raw = RawExchange(
        port_,
        std::string("GET /GetObjects HTTP/1.1\r\nHost: h\r\nAuthorization: ") + scheme + "\r\n\r\n",
        false);
    EXPECT_EQ(raw, "") << scheme;
  }
  EXPECT_EQ(calls_.load(), 0);
}

TEST_F(HttpServerTest, LimitsAnswered) {
  StartServer();
  std::string big_header =
      "GET / HTTP/1.1\r\nHost: h\r\nX-Pad: " + std::string(17 * 1024, 'a') + "\r\n\r\n";
  EXPECT_EQ(RawExchange(port_, big_header, false).rfind("HTTP/1.1 431", 0), 0u);
  // Announced too large: refused before the body is read.
  std::string announced = "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 4194305\r\n\r\n";
  EXPECT_EQ(RawExchange(port_, announced, false).rfind("HTTP/1.1 413", 0), 0u);
  // Exactly the limit is accepted.
  auto ok = Fetch(port_, http::verb::post, "/", std::string(4 * 1024 * 1024, 'b'));
  EXPECT_EQ(ok.Status, 200);
  EXPECT_EQ(ok.Body.size(), 7 + 4u * 1024 * 1024);
  // Chunked and unannounced bodies are cut at the limit too.
  std::string chunked = "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; i < 4; ++i) chunked += "100000\r\n" + std::string(0x100000, 'c') + "\r\n";
  chunked += "1\r\nc\r\n0\r\n\r\n";
  EXPECT_EQ(RawExchange(port_, chunked, false).rfind("HTTP/1.1 413", 0), 0u);
  std::string unannounced = "POST / HTTP/1.1\r\nHost: h\r\n\r\n" + std::string(4194305, 'd');
  EXPECT_EQ(RawExchange(port_, unannounced, true).rfind("HTTP/1.1 413", 0), 0u);
  EXPECT_EQ(calls_.load(), 1);
}

TEST_F(HttpServerTest, HandlerErrorBecomes500WithMessage) {
  StartServer();
  auto r = Fetch(port_, http::verb::get, "/throw");
  EXPECT_EQ(r.Status, 500);
  EXPECT_EQ(r.Body, "resource failed");
}

TEST_F(HttpServerTest, OtherMethodsGetTheDefaultEmptyAnswer) {
  StartServer();
  for (auto verb : {http::verb::put, http::verb::delete_, http::verb::options}) {
    auto r = Fetch(port_, verb, "/GetObjects");
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body, "");
    EXPECT_EQ(r.Headers["Content-Type"], "text/html");
  }
  EXPECT_EQ(calls_.load(), 0);
  EXPECT_EQ(RawExchange(port_, "NONSENSE\r\n\r\n", false).rfind("HTTP/1.1 400", 0), 0u);
}

TEST_F(HttpServerTest, SilentAndSlowClientsAreClosedAtTheDeadline) {
  HttpServerLimits limits;
  limits.RequestDeadline = std::chrono::milliseconds(200);
  StartServer(limits);
  EXPECT_EQ(RawExchange(port_, "", false), "");
  EXPECT_EQ(RawExchange(port_, "GET / HTTP/1.1\r\nHost:", false), "");
  EXPECT_EQ(RawExchange(port_, "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 10\r\n\r\nab", false),
            "");
  EXPECT_EQ(calls_.load(), 0);
  // Their threads are gone: a fresh request is served.
  EXPECT_EQ(Fetch(port_, http::verb::get, "/").Status, 200);
}

TEST_F(HttpServerTest, RequestsBeyondTheHandlerCapWaitForAFreeSlot) {
  HttpServerLimits limits;
  limits.MaxConnections = 2;
  StartServer(limits);
  std::vector<test::Reply> replies(3);
  std::thread first([&] { replies[0] = Fetch(port_, http::verb::get, "/block"); });
  std::thread second([&] { replies[1] = Fetch(port_, http::verb::get, "/block"); });
  for (;;) {  // both handlers inside, not merely dispatched
    std::lock_guard lk(mutex_);
    if (waiting_ == 2) break;
  }
  EXPECT_EQ(server_->ActiveHandlers(), 2);
  std::thread third([&] { replies[2] = Fetch(port_, http::verb::get, "/third"); });
  while (server_->OpenConnections() < 3) std::this_thread::yield();
  Release();  // one blocked request ends; the third takes its slot
  third.join();
  Release();
  first.join();
  second.join();
  for (const auto& r : replies) EXPECT_EQ(r.Status, 200);
  std::lock_guard lk(mutex_);
  ASSERT_EQ(events_.size(), 5u);
  EXPECT_EQ(events_[2], "released");
  EXPECT_EQ(events_[3], "start /third");
}

TEST_F(HttpServerTest, IdleConnectionsDoNotHoldHandlerSlots) {
  HttpServerLimits limits;
  limits.MaxConnections = 1;
  StartServer(limits);
  asio::io_context ioc;
  std::vector<asio::ip::tcp::socket> idle;
  for (int i = 0; i < 20; ++i) {
    idle.emplace_back(ioc);
    idle.back().connect({asio::ip::make_address_v4("127.0.0.1"), port_});
  }
  asio::write(idle[0], asio::buffer(std::string("GET / HTTP/1.1\r\nHo")));
  EXPECT_EQ(Fetch(port_, http::verb::get, "/served").Body, "answer:");
  EXPECT_GE(server_->OpenConnections(), 20);
}

TEST_F(HttpServerTest, OpenConnectionsBeyondTheCapWaitInTheBacklog) {
  HttpServerLimits limits;
  limits.MaxOpenConnections = 3;
  StartServer(limits);
  asio::io_context ioc;
  std::vector<asio::ip::tcp::socket> idle;
  for (int i = 0; i < 3; ++i) {
    idle.emplace_back(ioc);
    idle.back().connect({asio::ip::make_address_v4("127.0.0.1"), port_});
  }
  while (server_->OpenConnections() < 3) std::this_thread::yield();
  test::Reply fourth;
  std::thread client([&] { fourth = Fetch(port_, http::verb::get, "/fourth"); });
  EXPECT_LE(server_->OpenConnections(), 3);
  idle[0].close();
  client.join();
  EXPECT_EQ(fourth.Body, "answer:");
  EXPECT_LE(server_->OpenConnections(), 3);
}

TEST_F(HttpServerTest, StopEndsOpenConnectionsAndTheServerRestarts) {
  StartServer();
  asio::io_context ioc;
  asio::ip::tcp::socket idle(ioc);
  idle.connect({asio::ip::make_address_v4("127.0.0.1"), port_});
  asio::write(idle, asio::buffer(std::string("GET / HTTP/1.1\r\n")));
  while (server_->OpenConnections() < 1) std::this_thread::yield();
  server_->Stop();
  EXPECT_FALSE(server_->Running());
  char c;
  boost::system::error_code ec;
  size_t n = idle.read_some(asio::buffer(&c, 1), ec);
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(ec);
  ASSERT_TRUE(server_->Start(0, "127.0.0.1"));
  EXPECT_EQ(Fetch(server_->Port(), http::verb::get, "/again").Body, "answer:");
}

TEST_F(HttpServerTest, PortInUseFailsToStart) {
  StartServer();
  HttpServer other([](const HttpRequest&) { return HttpAnswer{}; });
  EXPECT_FALSE(other.Start(port_, "127.0.0.1"));
  EXPECT_FALSE(other.Running());
}

}  // namespace
}  // namespace ab
