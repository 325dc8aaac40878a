#include "web/http_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <exception>
#include <optional>
#include <utility>

#include "web/request_text.h"

namespace ab {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

struct HttpServer::Listener {
  asio::io_context ioc;
  tcp::acceptor acceptor{ioc};
};

struct HttpServer::Connection {
  asio::io_context ioc;
  beast::tcp_stream stream{ioc};
  std::thread thread;
  bool finished = false;  // guarded by HttpServer::mutex_
  std::atomic<bool> stopping{false};
};

namespace {

// Runs one asynchronous operation to its end on the connection's own io_context.
template <class Start>
error_code RunOne(asio::io_context& ioc, Start&& start, size_t* bytes = nullptr) {
  error_code result = asio::error::operation_aborted;
  ioc.restart();
  start([&](error_code ec, size_t n) {
    result = ec;
    if (bytes) *bytes = n;
  });
  ioc.run();
  return result;
}

http::response<http::string_body> MakeResponse(const HttpAnswer& a) {
  http::response<http::string_body> res{static_cast<http::status>(a.Status), 11};
  res.set(http::field::content_type,
          a.ContentType.empty() ? std::string(kDefaultContentType) : a.ContentType);
  if (!a.ContentEncoding.empty()) res.set(http::field::content_encoding, a.ContentEncoding);
  res.keep_alive(false);
  res.body() = a.Body;
  res.prepare_payload();
  return res;
}

HttpAnswer StatusAnswer(int status, std::string body) {
  HttpAnswer a;
  a.Status = status;
  a.Body = std::move(body);
  return a;
}

}  // namespace

HttpServer::HttpServer(Handler handler, HttpServerLimits limits)
    : handler_(std::move(handler)), limits_(limits) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(uint16_t port, const std::string& address) {
  std::lock_guard start_lock(start_mutex_);
  if (listener_) return true;
  auto listener = std::make_unique<Listener>();
  error_code ec;
  auto addr = asio::ip::make_address_v4(address, ec);
  if (ec) return false;
  tcp::endpoint ep(addr, port);
  listener->acceptor.open(ep.protocol(), ec);
  if (!ec) listener->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) listener->acceptor.bind(ep, ec);
  if (!ec) listener->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) return false;
  port_ = listener->acceptor.local_endpoint(ec).port();
  {
    std::lock_guard lk(mutex_);
    stopping_ = false;
    running_ = true;
  }
  listener_ = std::move(listener);
  listen_thread_ = std::thread([this] { ListenLoop(); });
  return true;
}

void HttpServer::Stop() {
  std::lock_guard start_lock(start_mutex_);
  if (!listener_) return;
  {
    std::lock_guard lk(mutex_);
    stopping_ = true;
    for (auto& c : connections_) {
      c->stopping = true;
      Connection* conn = c.get();
      // Runs inside the connection's next (or current) run and aborts its socket operation.
      asio::post(conn->ioc, [conn] { conn->stream.socket().close(); });
    }
  }
  slots_cv_.notify_all();
  asio::post(listener_->ioc, [l = listener_.get()] { l->acceptor.close(); });
  listen_thread_.join();
  // No new connection can appear now; join the rest.
  std::list<std::unique_ptr<Connection>> rest;
  {
    std::lock_guard lk(mutex_);
    rest.swap(connections_);
  }
  for (auto& c : rest) c->thread.join();
  error_code ec;
  listener_->acceptor.close(ec);
  listener_.reset();
  std::lock_guard lk(mutex_);
  running_ = false;
  active_ = 0;
}

bool HttpServer::Running() const {
  std::lock_guard lk(mutex_);
  return running_;
}

uint16_t HttpServer::Port() const { return port_; }

int32_t HttpServer::ActiveConnections() const {
  std::lock_guard lk(mutex_);
  return active_;
}

void HttpServer::ReapFinished() {
  std::list<std::unique_ptr<Connection>> done;
  {
    std::lock_guard lk(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished) {
        done.splice(done.end(), connections_, it++);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : done) c->thread.join();
}

void HttpServer::ListenLoop() {
  for (;;) {
    ReapFinished();
    {
      std::unique_lock lk(mutex_);
      slots_cv_.wait(lk, [&] { return stopping_ || active_ < limits_.MaxConnections; });
      if (stopping_) return;
    }
    auto conn = std::make_unique<Connection>();
    error_code result = asio::error::operation_aborted;
    listener_->ioc.restart();
    listener_->acceptor.async_accept(conn->stream.socket(),
                                     [&](error_code ec) { result = ec; });
    listener_->ioc.run();
    std::unique_lock lk(mutex_);
    if (stopping_) return;
    if (result) {
      // Out of descriptors and the like: back off instead of spinning.
      slots_cv_.wait_for(lk, std::chrono::milliseconds(50), [&] { return stopping_; });
      if (stopping_) return;
      continue;
    }
    ++active_;
    Connection* raw = conn.get();
    connections_.push_back(std::move(conn));
    raw->thread = std::thread([this, raw] {
      Serve(*raw);
      // Closed here rather than when reaped, so that a dropped request ends at once.
      error_code close_ec;
      raw->stream.socket().close(close_ec);
      {
        std::lock_guard done_lock(mutex_);
        raw->finished = true;
        --active_;
      }
      slots_cv_.notify_all();
    });
  }
}

void HttpServer::Serve(Connection& conn) {
  auto& stream = conn.stream;
  auto& ioc = conn.ioc;
  auto deadline = std::chrono::steady_clock::now() + limits_.RequestDeadline;
  auto arm = [&] {
    auto left = deadline - std::chrono::steady_clock::now();
    stream.expires_after(left > left.zero() ? left : std::chrono::steady_clock::duration(1));
  };

  auto send = [&](const HttpAnswer& answer, bool head) {
    if (conn.stopping) return;
    auto res = MakeResponse(answer);
    stream.expires_after(limits_.RequestDeadline);
    http::response_serializer<http::string_body> sr{res};
    if (head) {
      RunOne(ioc, [&](auto cb) { http::async_write_header(stream, sr, cb); });
    } else {
      RunOne(ioc, [&](auto cb) { http::async_write(stream, sr, cb); });
    }
    error_code ec;
    stream.socket().shutdown(tcp::socket::shutdown_send, ec);
  };
  // After refusing a request, read a little of what the client still sends, so that closing
  // with unread data does not reset the connection before the client has read the refusal.
  auto refuse = [&](int status, const char* text) {
    send(StatusAnswer(status, text), false);
    if (conn.stopping) return;
    stream.expires_after(std::chrono::seconds(1));
    char sink[4096];
    for (size_t total = 0; total < 64 * 1024;) {
      size_t n = 0;
      if (RunOne(ioc, [&](auto cb) { stream.async_read_some(asio::buffer(sink), cb); }, &n)) break;
      total += n;
    }
  };

  beast::flat_buffer buffer;
  http::request_parser<http::string_body> parser;
  parser.header_limit(static_cast<uint32_t>(limits_.HeaderLimit));
  parser.body_limit(limits_.BodyLimit);

  arm();
  error_code ec = RunOne(ioc, [&](auto cb) { http::async_read_header(stream, buffer, parser, cb); });
  if (ec) {
    if (ec == http::error::header_limit) {
      refuse(431, "Request Header Fields Too Large");
    } else if (ec == http::error::body_limit) {
      refuse(413, "Payload Too Large");
    } else if (ec != beast::error::timeout && ec != http::error::end_of_stream &&
               ec != asio::error::operation_aborted && ec != asio::error::eof &&
               ec != asio::error::connection_reset) {
      refuse(400, "Bad Request");
    }
    return;
  }

  auto& header = parser.get();
  Credentials cred = ParseAuthorization(header[http::field::authorization]);
  // Any scheme but Basic: dropped without an answer, whatever the path.
  if (cred.Kind == AuthKind::kOther) return;

  HttpRequest req;
  req.Method = std::string(header.method_string());
  req.Path = PathOfTarget(header.target());
  req.Host = std::string(header[http::field::host]);
  req.UserName = std::move(cred.UserName);
  req.Password = std::move(cred.Password);
  {
    error_code aec;
    auto ep = stream.socket().remote_endpoint(aec);
    if (!aec) req.RemoteAddress = ep.address().to_string();
  }

  if (beast::iequals(header[http::field::expect], "100-continue") && !parser.is_done()) {
    http::response<http::empty_body> cont{http::status::continue_, 11};
    http::response_serializer<http::empty_body> sr{cont};
    arm();
    if (RunOne(ioc, [&](auto cb) { http::async_write_header(stream, sr, cb); })) return;
  }

  bool no_length = !header.has_content_length() && !header.chunked();
  if (!parser.is_done()) {
    arm();
    ec = RunOne(ioc, [&](auto cb) { http::async_read(stream, buffer, parser, cb); });
    if (ec == http::error::body_limit) {
      refuse(413, "Payload Too Large");
      return;
    }
    if (ec) return;
    req.Body = std::move(parser.get().body());
  } else if (no_length && header.method() == http::verb::post) {
    // A POST without a length carries its body until the client closes.
    std::string raw = beast::buffers_to_string(buffer.data());
    buffer.consume(buffer.size());
    for (;;) {
      if (raw.size() > limits_.BodyLimit) {
        refuse(413, "Payload Too Large");
        return;
      }
      char chunk[16384];
      size_t n = 0;
      arm();
      ec = RunOne(
          ioc, [&](auto cb) { stream.async_read_some(asio::buffer(chunk), cb); }, &n);
      raw.append(chunk, n);
      if (ec == asio::error::eof) break;
      if (ec) return;
    }
    if (raw.size() > limits_.BodyLimit) {
      refuse(413, "Payload Too Large");
      return;
    }
    req.Body = std::move(raw);
  } else {
    req.Body = std::move(parser.get().body());
  }

  HttpAnswer answer;
  auto verb = header.method();
  if (verb == http::verb::get || verb == http::verb::post || verb == http::verb::head) {
    try {
      answer = handler_(req);
    } catch (const std::exception& e) {
      answer = StatusAnswer(500, e.what());
    } catch (...) {
      answer = StatusAnswer(500, "Internal error");
    }
  }
  send(answer, verb == http::verb::head);
}

}  // namespace ab
