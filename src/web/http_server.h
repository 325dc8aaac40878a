#pragma once
// HTTP/1.1 server: one thread per accepted connection, one request per connection (closed after
// the answer), GET/POST/HEAD handed to the handler alike, HEAD answered without body bytes.
// Bounded against hostile clients: header and body limits, a deadline for receiving a request,
// and a cap on connections served at once (more wait in the listen backlog).

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
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
  int32_t MaxConnections = 256;
};

class HttpServer {
 public:
  // Called on the connection's thread; may block. An exception becomes status 500 with its
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
  // still running finishes, but its answer is not sent.
  void Stop();
  bool Running() const;
  // The bound port while running.
  uint16_t Port() const;
  // Connections being served now.
  int32_t ActiveConnections() const;

 private:
  struct Listener;
  struct Connection;

  void ListenLoop();
  void Serve(Connection& conn);
  void ReapFinished();

  Handler handler_;
  HttpServerLimits limits_;
  std::mutex start_mutex_;  // serialises Start and Stop
  std::unique_ptr<Listener> listener_;
  std::thread listen_thread_;
  uint16_t port_ = 0;

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable slots_cv_;
  bool stopping_ = false;
  bool running_ = false;
  int32_t active_ = 0;
  std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace ab
