// The real HTTP API over the /GetObjects fixture, for load generators outside the process:
//   web_objects_server [--port N] [--body FILE] [--objects N] [--no-cache 1]
// Serves on 127.0.0.1 until SIGINT or SIGTERM. Prints "port N" once it listens. With --body,
// first writes the /GetObjects body to FILE, so another server can serve the same bytes. The
// tables do not change, so the unfiltered body is built once and then reused, as the program
// does between changes; --no-cache 1 builds it for every request.

#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "objects_fixture.h"
#include "web/objects_resource.h"
#include "web/web_api.h"
#include "web/web_context.h"

namespace ab {
namespace {

constexpr const char* kPublicAddress = "127.0.0.1:8090";

// The controller's side as far as /GetObjects needs it; the daily log is counted, not written.
class BenchContext final : public WebContext {
 public:
  BenchContext(const WebTableSet& set, bool cache) : set_(set), use_cache_(cache) {
    settings_.PublicAddress = kPublicAddress;
    bg_.Name = "bg";
  }
  const WebSettings& Settings() const override { return settings_; }
  WebCounters& Counters() override { return counters_; }
  const Clock& GetClock() const override { return SystemClock::Instance(); }
  void LockController() override { lock_.lock(); }
  void UnlockController() override { lock_.unlock(); }
  TFQueueC& BgQueue() override { return bg_; }
  WebTableSet Tables() override { return set_; }
  void WriteDailyLog(std::string_view) override { ++log_lines_; }
  PassportCache* ObjectsCache() override { return use_cache_ ? &cache_ : nullptr; }
  // Nothing changes the tables or the lists while the server runs.
  std::optional<SourceKey> TablesKey() override { return SourceKey{}; }
  bool PushOutQueue(std::string_view) override { return true; }
  void PollNow() override {}
  void SetAwaitedFile(const std::string&) override {}
  bool FileArrived() override { return false; }
  void AddStatusLine(std::string_view) override {}

 private:
  WebSettings settings_;
  WebCounters counters_;
  TFQueueC bg_;
  WebTableSet set_;
  bool use_cache_;
  PassportCache cache_;
  std::mutex lock_;
  int64_t log_lines_ = 0;
};

}  // namespace
}  // namespace ab

int main(int argc, char** argv) {
  uint16_t port = 0;
  const char* body_file = nullptr;
  int objects = ab::bench::kDefaultObjects;
  bool cache = true;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--port"))
      port = static_cast<uint16_t>(std::atoi(argv[i + 1]));
    else if (!std::strcmp(argv[i], "--body"))
      body_file = argv[i + 1];
    else if (!std::strcmp(argv[i], "--objects"))
      objects = std::atoi(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--no-cache"))
      cache = std::atoi(argv[i + 1]) == 0;
  }
  ab::bench::ObjectsFixture fixture(objects);
  ab::BenchContext ctx(fixture.set, cache);
  if (body_file) {
    std::string body;
    {
      ab::ContextLock hold(ctx);
      body = ab::BuildObjectPassports(ctx.Tables(), ctx.Settings().PublicAddress, std::nullopt);
    }
    std::ofstream(body_file, std::ios::binary) << body;
  }
  // Blocked before any thread starts, so every thread inherits the mask and sigwait gets them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  ab::WebApi api(ctx);
  if (!api.Start(port, "127.0.0.1")) {
    std::fprintf(stderr, "cannot listen on port %u\n", port);
    return 1;
  }
  std::printf("port %u\n", api.Port());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stop, &sig);
  api.Stop();
  return 0;
}
