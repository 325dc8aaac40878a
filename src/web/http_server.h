#pragma once
// HTTP/1.1 server: one request per connection (closed after the answer), GET/POST/HEAD handed
// to the handler alike, HEAD answered without body bytes. Requests are received by one I/O
// thread, so a client that connects and sends slowly or nothing costs a socket, not a thread;
// each complete request is then served on a thread of its own, at most MaxConnections at once
// (more wait their turn). Bounded against hostile clients: header and body limits, a deadline
// for receiving a request and another for sending the answer, a cap on open connections (more
// wait in the listen backlog).

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "web/http_message.h"

namespace ab {

struct HttpServerLimits {
  size_t HeaderLimit = 16 * 1024;
  size_t BodyLimit = 4 * 1024 * 1024;
  // Time to receive the whole request, and again to send the answer.
  std::chrono::milliseconds RequestDeadline{30000};
  // Requests served at once, each on its own thread.
  int32_t MaxConnections = 256;
  // Connections open at once, including those still sending their request.
  int32_t MaxOpenConnections = 4096;
};

class HttpServer {
 public:
  // Called on the request's own thread; may block. An exception becomes status 500 with its
  // message as the body.
  using Handler = std::function<HttpAnswer(const HttpRequest&)>;

  explicit HttpServer(Handler handler, HttpServerLimits limits = {});
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Listens on address:port (port 0 picks a free one) with address reuse. False, and still
  // stopped, when the port cannot be bound. No-op returning true while running.
  bool Start(uint16_t port, const std::string& address = "0.0.0.0");
  // Stops accepting, closes open connections and joins every thread. Idempotent. A handler
  // still running finishes, but its answer is not sent. wake_handlers runs after the
  // connections are marked closed and before the joins, to end handlers that wait.
  void Stop(const std::function<void()>& wake_handlers = nullptr);
  bool Running() const;
  // The bound port while running.
  uint16_t Port() const;
  // Connections open now / requests being served now.
  int32_t OpenConnections() const;
  int32_t ActiveHandlers() const;

 private:
  struct Io;
  struct Session;

  void Accept();
  void ReadHeader(const std::shared_ptr<Session>& s);
  void ReadBody(const std::shared_ptr<Session>& s);
  void ReadUntilClose(const std::shared_ptr<Session>& s);
  void Dispatch(const std::shared_ptr<Session>& s);
  void Answer(const std::shared_ptr<Session>& s, HttpAnswer answer, bool head, bool drain);
  // Reads and discards what a refused client still sends, up to a bound, then closes.
  void Drain(const std::shared_ptr<Session>& s);
  void Close(const std::shared_ptr<Session>& s);
  void ReapHandlers();

  Handler handler_;
  HttpServerLimits limits_;
  std::mutex start_mutex_;  // serialises Start and Stop
  std::unique_ptr<Io> io_;
  std::thread io_thread_;
  uint16_t port_ = 0;

  mutable std::mutex mutex_;  // guards what follows
  bool running_ = false;
  bool stopping_ = false;
  int32_t handlers_ = 0;
  std::deque<std::shared_ptr<Session>> waiting_;
  struct HandlerThread {
    std::thread Thread;
    bool Finished = false;
  };
  std::list<HandlerThread> threads_;
};

}  // namespace ab
