#pragma once
// What the status display and the controller need of the link: its status figures (read without
// a lock) and its two queues. The real link implements it; tests use a fake.

#include <cstdint>

#include "util/fifo.h"

namespace ab {

class LinkPort {
 public:
  virtual ~LinkPort() = default;
  virtual bool Registered() const = 0;
  virtual bool AccessDenied() const = 0;
  virtual bool TablesReady() const = 0;
  virtual int32_t LoadPercent() const = 0;
  virtual int32_t ActivityCounter() const = 0;
  virtual double InBytesPerSecond() const = 0;
  virtual double OutBytesPerSecond() const = 0;
  virtual int64_t DuplicateChunks() const = 0;
  virtual int64_t DataDatagrams() const = 0;
  // Notices for the status display; the display is the only consumer.
  virtual OchFIFOJSON& EventQueue() = 0;
  // Outgoing commands; any thread may push.
  virtual OchFIFOJSON& OutQueue() = 0;
};

// The HTTP server as the status tick drives it.
class HttpServerPort {
 public:
  virtual ~HttpServerPort() = default;
  // Starts listening; false when it cannot (port taken). Safe to call again after a failure.
  virtual bool Start() = 0;
  // Stops listening and ends open connections; nothing when not running.
  virtual void Stop() = 0;
  virtual bool IsRunning() const = 0;
};

}  // namespace ab
