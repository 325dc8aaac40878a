#pragma once
// Fakes of the link and the HTTP server for the controller's tests.

#include <cstdlib>
#include <ctime>
#include <string>

#include "core/link_port.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace ab::test {

// Local time is UTC in these tests, so calendar expectations hold on any machine.
inline void UseUtc() {
  setenv("TZ", "UTC", 1);
  tzset();
}

// 2024-03-05 14:07:09 UTC.
inline Clock::WallTime March5At140709() {
  return Clock::WallTime(std::chrono::seconds(1709647629));
}

inline std::string W(const char* utf8) { return Utf8ToCp1251(utf8); }

class FakeLink : public LinkPort {
 public:
  FakeLink() {
    events.SetCapacity(1000);
    out.SetCapacity(1000);
  }
  bool Registered() const override { return registered; }
  bool AccessDenied() const override { return access_denied; }
  bool TablesReady() const override { return tables_ready; }
  int32_t LoadPercent() const override { return load_percent; }
  int32_t ActivityCounter() const override { return activity; }
  double InBytesPerSecond() const override { return in_bps; }
  double OutBytesPerSecond() const override { return out_bps; }
  int64_t DuplicateChunks() const override { return duplicates; }
  int64_t DataDatagrams() const override { return datagrams; }
  OchFIFOJSON& EventQueue() override { return events; }
  OchFIFOJSON& OutQueue() override { return out; }

  bool registered = false;
  bool access_denied = false;
  bool tables_ready = false;
  int32_t load_percent = 0;
  int32_t activity = 0;
  double in_bps = 0;
  double out_bps = 0;
  int64_t duplicates = 0;
  int64_t datagrams = 0;
  OchFIFOJSON events;
  OchFIFOJSON out;
};

class FakeHttp : public HttpServerPort {
 public:
  bool Start() override {
    ++starts;
    running = !fail_start;
    return running;
  }
  void Stop() override {
    ++stops;
    running = false;
  }
  bool IsRunning() const override { return running; }

  bool running = false;
  bool fail_start = false;
  int starts = 0;
  int stops = 0;
};

}  // namespace ab::test
