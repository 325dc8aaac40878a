#include "web/http_server.h"

#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/http/span_body.hpp>
#include <exception>
#include <future>
#include <optional>
#include <set>
#include <utility>

#include "web/request_text.h"

namespace ab {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// Everything here but the counters is used on the I/O thread only.
struct HttpServer::Io {
  asio::io_context ioc;
  asio::executor_work_guard<asio::io_context::executor_type> guard{ioc.get_executor()};
  tcp::acceptor acceptor{ioc};
  std::set<std::shared_ptr<Session>> sessions;
  std::atomic<int32_t> open{0};
  bool accept_paused = false;
  bool closing = false;
};

struct HttpServer::Session {
  explicit Session(asio::io_context& ioc) : stream(ioc) {}

  beast::tcp_stream stream;
  beast::flat_buffer buffer;
  std::optional<http::request_parser<http::string_body>> parser;
  std::chrono::steady_clock::time_point deadline;
  HttpRequest request;
  bool head = false;
  bool handled_method = false;
  std::string raw_body;
  std::array<char, 16384> chunk{};
  size_t drained = 0;
  bool closed = false;
  // The answer's body, owned here or shared with whoever keeps it, while it is written.
  std::string body;
  std::shared_ptr<const std::string> shared_body;
  std::optional<http::response<http::span_body<const char>>> response;
  std::optional<http::response_serializer<http::span_body<const char>>> serializer;
  std::optional<http::response<http::empty_body>> interim;
  std::optional<http::response_serializer<http::empty_body>> interim_serializer;
};

namespace {

HttpAnswer StatusAnswer(int status, std::string body) {
  HttpAnswer a;
  a.Status = status;
  a.Body = std::move(body);
  return a;
}

// Errors that mean the client went away or was too slow: no answer is owed.
bool ClientGone(const error_code& ec) {
  return ec == beast::error::timeout || ec == http::error::end_of_stream ||
         ec == asio::error::operation_aborted || ec == asio::error::eof ||
         ec == asio::error::connection_reset || ec == http::error::partial_message;
}

}  // namespace

HttpServer::HttpServer(Handler handler, HttpServerLimits limits)
    : handler_(std::move(handler)), limits_(limits) {}

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(uint16_t port, const std::string& address) {
  std::lock_guard start_lock(start_mutex_);
  if (io_) return true;
  auto io = std::make_unique<Io>();
  error_code ec;
  auto addr = asio::ip::make_address_v4(address, ec);
  if (ec) return false;
  tcp::endpoint ep(addr, port);
  io->acceptor.open(ep.protocol(), ec);
  if (!ec) io->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) io->acceptor.bind(ep, ec);
  if (!ec) io->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) return false;
  port_ = io->acceptor.local_endpoint(ec).port();
  {
    std::lock_guard lk(mutex_);
    stopping_ = false;
    running_ = true;
  }
  io_ = std::move(io);
  asio::post(io_->ioc, [this] { Accept(); });
  io_thread_ = std::thread([this] { io_->ioc.run(); });
  return true;
}

void HttpServer::Stop(const std::function<void()>& wake_handlers) {
  std::lock_guard start_lock(start_mutex_);
  if (!io_) return;
  {
    std::lock_guard lk(mutex_);
    stopping_ = true;
    waiting_.clear();
  }
  std::promise<void> closed;
  asio::post(io_->ioc, [this, &closed] {
    io_->closing = true;
    error_code ec;
    io_->acceptor.close(ec);
    for (const auto& s : io_->sessions) {
      s->closed = true;
      s->stream.socket().close(ec);
    }
    io_->sessions.clear();
    io_->open = 0;
    closed.set_value();
  });
  closed.get_future().wait();
  if (wake_handlers) wake_handlers();
  std::list<HandlerThread> threads;
  {
    std::lock_guard lk(mutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.Thread.join();
  io_->guard.reset();
  io_->ioc.stop();
  io_thread_.join();
  io_.reset();
  std::lock_guard lk(mutex_);
  running_ = false;
  handlers_ = 0;
}

bool HttpServer::Running() const {
  std::lock_guard lk(mutex_);
  return running_;
}

uint16_t HttpServer::Port() const { return port_; }

int32_t HttpServer::OpenConnections() const {
  std::lock_guard start_lock(const_cast<std::mutex&>(start_mutex_));
  return io_ ? io_->open.load() : 0;
}

int32_t HttpServer::ActiveHandlers() const {
  std::lock_guard lk(mutex_);
  return handlers_;
}

void HttpServer::Accept() {
  auto s = std::make_shared<Session>(io_->ioc);
  io_->acceptor.async_accept(s->stream.socket(), [this, s](error_code ec) {
    if (io_->closing) return;
    if (ec) {
      // Out of descriptors and the like: back off instead of spinning.
      auto timer = std::make_shared<asio::steady_timer>(io_->ioc, std::chrono::milliseconds(50));
      timer->async_wait([this, timer](error_code) {
        if (!io_->closing) Accept();
      });
      return;
    }
    io_->sessions.insert(s);
    io_->open = static_cast<int32_t>(io_->sessions.size());
    s->deadline = std::chrono::steady_clock::now() + limits_.RequestDeadline;
    ReadHeader(s);
    if (static_cast<int32_t>(io_->sessions.size()) < limits_.MaxOpenConnections) {
      Accept();
    } else {
      io_->accept_paused = true;
    }
  });
}

void HttpServer::Close(const std::shared_ptr<Session>& s) {
  if (s->closed) return;
  s->closed = true;
  error_code ec;
  s->stream.socket().close(ec);
  io_->sessions.erase(s);
  io_->open = static_cast<int32_t>(io_->sessions.size());
  if (io_->accept_paused && !io_->closing &&
      static_cast<int32_t>(io_->sessions.size()) < limits_.MaxOpenConnections) {
    io_->accept_paused = false;
    Accept();
  }
}

void HttpServer::ReadHeader(const std::shared_ptr<Session>& s) {
  s->parser.emplace();
  s->parser->header_limit(static_cast<uint32_t>(limits_.HeaderLimit));
  s->parser->body_limit(limits_.BodyLimit);
  s->stream.expires_at(s->deadline);
  http::async_read_header(s->stream, s->buffer, *s->parser, [this, s](error_code ec, size_t) {
    if (s->closed) return;
    if (ec == http::error::header_limit)
      return Answer(s, StatusAnswer(431, "Request Header Fields Too Large"), false, true);
    if (ec == http::error::body_limit)
      return Answer(s, StatusAnswer(413, "Payload Too Large"), false, true);
    if (ec && ClientGone(ec)) return Close(s);
    if (ec) return Answer(s, StatusAnswer(400, "Bad Request"), false, true);

    auto& h = s->parser->get();
    Credentials cred = ParseAuthorization(h[http::field::authorization]);
    // Any scheme but Basic: dropped without an answer, whatever the path.
    if (cred.Kind == AuthKind::kOther) return Close(s);
    HttpRequest& r = s->request;
    r.Method = std::string(h.method_string());
    r.Path = PathOfTarget(h.target());
    r.Host = std::string(h[http::field::host]);
    r.UserName = std::move(cred.UserName);
    r.Password = std::move(cred.Password);
    error_code aec;
    auto ep = s->stream.socket().remote_endpoint(aec);
    if (!aec) r.RemoteAddress = ep.address().to_string();
    auto verb = h.method();
    s->head = verb == http::verb::head;
    s->handled_method = verb == http::verb::get || verb == http::verb::post || s->head;

    if (beast::iequals(h[http::field::expect], "100-continue") && !s->parser->is_done()) {
      s->interim.emplace(http::status::continue_, 11);
      s->interim_serializer.emplace(*s->interim);
      http::async_write_header(s->stream, *s->interim_serializer,
                               [this, s](error_code wec, size_t) {
                                 if (s->closed) return;
                                 if (wec) return Close(s);
                                 ReadBody(s);
                               });
      return;
    }
    ReadBody(s);
  });
}

void HttpServer::ReadBody(const std::shared_ptr<Session>& s) {
  auto& h = s->parser->get();
  if (!s->parser->is_done()) {
    http::async_read(s->stream, s->buffer, *s->parser, [this, s](error_code ec, size_t) {
      if (s->closed) return;
      if (ec == http::error::body_limit)
        return Answer(s, StatusAnswer(413, "Payload Too Large"), false, true);
      if (ec) return Close(s);
      s->request.Body = std::move(s->parser->get().body());
      Dispatch(s);
    });
  } else if (!h.has_content_length() && !h.chunked() && h.method() == http::verb::post) {
    // A POST without a length carries its body until the client closes.
    s->raw_body = beast::buffers_to_string(s->buffer.data());
    s->buffer.consume(s->buffer.size());
    ReadUntilClose(s);
  } else {
    s->request.Body = std::move(s->parser->get().body());
    Dispatch(s);
  }
}

void HttpServer::ReadUntilClose(const std::shared_ptr<Session>& s) {
  if (s->raw_body.size() > limits_.BodyLimit) {
    return Answer(s, StatusAnswer(413, "Payload Too Large"), false, true);
  }
  s->stream.async_read_some(asio::buffer(s->chunk), [this, s](error_code ec, size_t n) {
    if (s->closed) return;
    s->raw_body.append(s->chunk.data(), n);
    if (ec == asio::error::eof) {
      if (s->raw_body.size() > limits_.BodyLimit) {
        return Answer(s, StatusAnswer(413, "Payload Too Large"), false, true);
      }
      s->request.Body = std::move(s->raw_body);
      return Dispatch(s);
    }
    if (ec) return Close(s);
    ReadUntilClose(s);
  });
}

void HttpServer::ReapHandlers() {
  std::list<HandlerThread> done;
  {
    std::lock_guard lk(mutex_);
    for (auto it = threads_.begin(); it != threads_.end();) {
      if (it->Finished) {
        done.splice(done.end(), threads_, it++);
      } else {
        ++it;
      }
    }
  }
  for (auto& t : done) t.Thread.join();
}

void HttpServer::Dispatch(const std::shared_ptr<Session>& s) {
  // The handler may take its time; the answer gets a deadline of its own.
  s->stream.expires_never();
  if (!s->handled_method) return Answer(s, HttpAnswer{}, s->head, false);
  ReapHandlers();
  std::lock_guard lk(mutex_);
  if (stopping_) return;
  if (handlers_ >= limits_.MaxConnections) {
    waiting_.push_back(s);
    return;
  }
  ++handlers_;
  threads_.emplace_back();
  auto it = std::prev(threads_.end());
  it->Thread = std::thread([this, s, it] {
    std::shared_ptr<Session> current = s;
    for (;;) {
      HttpAnswer answer;
      try {
        answer = handler_(current->request);
      } catch (const std::exception& e) {
        answer = StatusAnswer(500, e.what());
      } catch (...) {
        answer = StatusAnswer(500, "Internal error");
      }
      std::lock_guard done_lock(mutex_);
      if (!stopping_) {
        asio::post(io_->ioc, [this, current, a = std::move(answer)]() mutable {
          Answer(current, std::move(a), current->head, false);
        });
      }
      if (stopping_ || waiting_.empty()) {
        --handlers_;
        it->Finished = true;
        return;
      }
      current = waiting_.front();
      waiting_.pop_front();
    }
  });
}

void HttpServer::Answer(const std::shared_ptr<Session>& s, HttpAnswer a, bool head, bool drain) {
  if (io_->closing || s->closed) return;
  s->response.emplace(static_cast<http::status>(a.Status), 11);
  auto& res = *s->response;
  res.set(http::field::content_type,
          a.ContentType.empty() ? std::string(kDefaultContentType) : a.ContentType);
  if (!a.ContentEncoding.empty()) res.set(http::field::content_encoding, a.ContentEncoding);
  res.keep_alive(false);
  s->shared_body = std::move(a.SharedBody);
  s->body = std::move(a.Body);
  const std::string& text = s->shared_body ? *s->shared_body : s->body;
  res.body() = {text.data(), text.size()};
  res.prepare_payload();
  s->serializer.emplace(res);
  s->stream.expires_after(limits_.RequestDeadline);
  auto written = [this, s, drain](error_code ec, size_t) {
    if (s->closed) return;
    error_code sec;
    s->stream.socket().shutdown(tcp::socket::shutdown_send, sec);
    if (ec || !drain) return Close(s);
    // After a refusal, read a little of what the client still sends, so that closing with
    // unread data does not reset the connection before the client has read the refusal.
    s->stream.expires_after(std::chrono::seconds(1));
    Drain(s);
  };
  if (head) {
    http::async_write_header(s->stream, *s->serializer, written);
  } else {
    http::async_write(s->stream, *s->serializer, written);
  }
}

void HttpServer::Drain(const std::shared_ptr<Session>& s) {
  s->stream.async_read_some(asio::buffer(s->chunk), [this, s](error_code ec, size_t n) {
    if (s->closed) return;
    s->drained += n;
    if (ec || s->drained >= 64 * 1024) return Close(s);
    Drain(s);
  });
}

}  // namespace ab
