// Requests per second of the HTTP server over loopback (4 client threads, one request per
// connection), against a bare accept-read-write loop serving the same bytes in the same run,
// and again with 1,000 idle connections held open.

#include <benchmark/benchmark.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <memory>
#include <thread>
#include <vector>

#include "web/http_server.h"

namespace ab {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

const std::string& Body() {
  static const std::string body(64 * 1024, 'x');
  return body;
}

// The baseline: one thread, accept, read the request, write the answer, close.
class BareServer {
 public:
  BareServer() : acceptor_(ioc_, {asio::ip::make_address_v4("127.0.0.1"), 0}) {
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this] { Run(); });
  }
  ~BareServer() {
    stop_ = true;
    boost::system::error_code ec;
    tcp::socket poke(ioc_);
    poke.connect({asio::ip::make_address_v4("127.0.0.1"), port_}, ec);
    thread_.join();
  }
  uint16_t Port() const { return port_; }

 private:
  void Run() {
    while (!stop_) {
      boost::system::error_code ec;
      tcp::socket s(ioc_);
      acceptor_.accept(s, ec);
      if (ec || stop_) continue;
      beast::flat_buffer buffer;
      http::request<http::string_body> req;
      http::read(s, buffer, req, ec);
      if (ec) continue;
      http::response<http::string_body> res{http::status::ok, 11};
      res.set(http::field::content_type, "text/json; charset=utf-8");
      res.keep_alive(false);
      res.body() = Body();
      res.prepare_payload();
      http::write(s, res, ec);
      s.shutdown(tcp::socket::shutdown_send, ec);
    }
  }

  asio::io_context ioc_;
  tcp::acceptor acceptor_;
  uint16_t port_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

bool OneRequest(uint16_t port) {
  asio::io_context ioc;
  tcp::socket s(ioc);
  boost::system::error_code ec;
  s.connect({asio::ip::make_address_v4("127.0.0.1"), port}, ec);
  if (ec) return false;
  http::request<http::empty_body> req{http::verb::get, "/GetObjects", 11};
  req.set(http::field::host, "bench");
  req.set(http::field::connection, "close");
  http::write(s, req, ec);
  beast::flat_buffer buffer;
  http::response<http::string_body> res;
  http::read(s, buffer, res, ec);
  return !ec && res.body().size() == Body().size();
}

struct Servers {
  HttpServer ours{[](const HttpRequest&) {
    HttpAnswer a;
    a.ContentType = "text/json; charset=utf-8";
    a.ContentEncoding = "utf-8";
    a.Body = Body();
    return a;
  }};
  BareServer bare;
  asio::io_context idle_ioc;
  std::vector<tcp::socket> idle;
  Servers() {
    if (!ours.Start(0, "127.0.0.1")) std::abort();
  }
  void HoldIdle(size_t n) {
    while (idle.size() < n) {
      idle.emplace_back(idle_ioc);
      idle.back().connect({asio::ip::make_address_v4("127.0.0.1"), ours.Port()});
    }
  }
};

Servers& Shared() {
  static Servers s;
  return s;
}

void Serve(benchmark::State& state, uint16_t port) {
  int64_t failed = 0;
  for (auto _ : state) {
    if (!OneRequest(port)) ++failed;
  }
  state.counters["failed"] = static_cast<double>(failed);
  state.counters["req_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_BareLoop(benchmark::State& state) { Serve(state, Shared().bare.Port()); }
void BM_HttpServer(benchmark::State& state) { Serve(state, Shared().ours.Port()); }
void BM_HttpServerWith1000Idle(benchmark::State& state) {
  if (state.thread_index() == 0) Shared().HoldIdle(1000);
  Serve(state, Shared().ours.Port());
}

BENCHMARK(BM_BareLoop)->Threads(4)->UseRealTime()->MinTime(5);
BENCHMARK(BM_HttpServer)->Threads(4)->UseRealTime()->MinTime(5);
BENCHMARK(BM_HttpServerWith1000Idle)->Threads(4)->UseRealTime()->MinTime(5);

}  // namespace
}  // namespace ab

BENCHMARK_MAIN();
