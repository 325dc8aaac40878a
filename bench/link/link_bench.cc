// Link throughput over loopback against the message-server double, next to a plain UDP blast of
// 1019-byte datagrams measured in the same run; and the idle CPU of a registered link that
// waits for work, next to the same link polling every millisecond.
//
//   link_bench --benchmark_filter=Transfer   (about a minute)
//   link_bench --benchmark_filter=Idle       (2 x AB_IDLE_SECONDS, default 30 s)

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/client_udp.h"
#include "link/completion_map.h"
#include "link/udp_socket.h"
#include "msgserver/msg_server.h"

namespace ab {
namespace {

using Steady = std::chrono::steady_clock;
constexpr size_t kTransferBytes = 20 * 1000 * 1000;

double Seconds(Steady::time_point from) {
  return std::chrono::duration<double>(Steady::now() - from).count();
}

template <typename F>
bool WaitUntil(F done, std::chrono::seconds limit) {
  const auto end = Steady::now() + limit;
  while (Steady::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

std::filesystem::path BenchDir() {
  auto d = std::filesystem::temp_directory_path() / ("ab-link-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(d);
  return d;
}

// Plain UDP: one thread blasts 1019-byte datagrams, the other counts what arrives. MB/s of data
// received, as the ceiling for a link that sends datagrams of the same size.
double BaselineMBps() {
  const double rate = [] {
    auto rx = OpenUdpSocket("127.0.0.1", 0);
    auto tx = OpenUdpSocket("127.0.0.1", 0);
    const Endpoint to = rx->LocalEndpoint();
    const size_t count = kTransferBytes / kMaxSentDatagram + 1;
    std::atomic<size_t> received{0};
    std::atomic<bool> stop{false};
    Steady::time_point last;
    std::thread reader([&] {
      std::vector<uint8_t> buf(2048);
      Endpoint from;
      while (!stop.load()) {
        if (rx->ReceiveFrom(buf, from) > 0) {
          received += kMaxSentDatagram;
          last = Steady::now();
        } else {
          rx->WaitReadable(std::chrono::milliseconds(20));
        }
      }
    });
    std::vector<uint8_t> d(kMaxSentDatagram, 0x5A);
    const auto start = Steady::now();
    for (size_t i = 0; i < count; ++i) tx->SendTo(to, d);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = true;
    rx->Wake();
    reader.join();
    const double secs = std::chrono::duration<double>(last - start).count();
    return secs > 0 ? static_cast<double>(received.load()) / secs / 1e6 : 0.0;
  }();
  return rate;
}

struct Pair {
  std::mutex lock;
  std::unique_ptr<MsgServer> server;
  std::unique_ptr<client_udp> link;
};

std::unique_ptr<Pair> Connect(TableSync* sync = nullptr) {
  auto p = std::make_unique<Pair>();
  auto s = OpenUdpSocket("127.0.0.1", 0);
  const uint16_t port = s->LocalEndpoint().Port;
  p->server = std::make_unique<MsgServer>(std::move(s), SystemClock::Instance());
  p->server->Start();
  p->link =
      std::make_unique<client_udp>("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", port, "127.0.0.1",
                                   OpenUdpSocket(), SystemClock::Instance(), p->lock, BenchDir());
  p->link->Sync = sync;
  p->link->Start();
  p->link->SetEnabled(true);
  if (!WaitUntil([&] { return p->link->Registered.load(); }, std::chrono::seconds(10))) {
    return nullptr;
  }
  return p;
}

// The host is shared, so each transfer is paired with a baseline measured just before it, and
// the median of the pairs is reported.
constexpr int kPairs = 3;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Pairs {
  std::vector<double> base, rate, ratio, wire, wire_ratio;
  void Add(double b, double r, double w = 0) {
    base.push_back(b);
    rate.push_back(r);
    ratio.push_back(b > 0 ? 100.0 * r / b : 0.0);
    wire.push_back(w);
    wire_ratio.push_back(b > 0 ? 100.0 * w / b : 0.0);
  }
  void Report(benchmark::State& state, bool with_wire) const {
    state.counters["MBps"] = Median(rate);
    state.counters["baseline_MBps"] = Median(base);
    state.counters["ratio_pct"] = Median(ratio);
    if (with_wire) {
      state.counters["wire_MBps"] = Median(wire);
      state.counters["wire_ratio_pct"] = Median(wire_ratio);
    }
  }
};

void BM_TransferMessageLinkToServer(benchmark::State& state) {
  auto p = Connect();
  if (!p) return state.SkipWithError("no registration");
  const std::string text =
      "{\"$c$\":\"m\",\"f\":\"" + std::string(kTransferBytes - 16, 'x') + "\"}";
  Pairs pairs;
  for (auto _ : state) {
    for (int i = 0; i < kPairs; ++i) {
      const double base = BaselineMBps();
      const auto start = Steady::now();
      p->link->OutQueue.Push(text);
      if (!WaitUntil([&] { return !p->link->OutQueue.NotEmpty(); }, std::chrono::seconds(120))) {
        return state.SkipWithError("transfer did not complete");
      }
      const uint64_t end = TickCount(SystemClock::Instance());
      // From the first chunk on the wire: without the copies of the 20 MB text into and out of
      // the queues, which cost more than the transfer itself on a host with slow page faults.
      const double wire = static_cast<double>(text.size()) /
                          (TicksToMs(p->server->FirstChunkTime(), end) / 1000.0) / 1e6;
      pairs.Add(base, static_cast<double>(text.size()) / Seconds(start) / 1e6, wire);
    }
  }
  if (!p->link->Registered.load()) return state.SkipWithError("link lost");
  pairs.Report(state, true);
}

// Counts the file's chunks as the link hands them over.
class FileCounter : public TableSync {
 public:
  std::atomic<bool> Done{false};
  void HandleFileChunk(const DatagramHeader& h, std::span<const uint8_t>) override {
    if (map_.ChunkCount() != h.ChunkCount) map_ = CompletionMap(h.ChunkCount);
    map_.Set(h.ChunkNumber);
    if (map_.Complete()) Done = true;
  }

 private:
  CompletionMap map_;
};

void BM_TransferFileServerToLink(benchmark::State& state) {
  Pairs pairs;
  for (auto _ : state) {
    for (int i = 0; i < kPairs; ++i) {
      const double base = BaselineMBps();
      FileCounter counter;
      auto p = Connect(&counter);
      if (!p) return state.SkipWithError("no registration");
      const auto start = Steady::now();
      p->server->SendFile(std::string(kTransferBytes, 'f'));
      if (!WaitUntil([&] { return counter.Done.load(); }, std::chrono::seconds(120))) {
        return state.SkipWithError("file did not arrive");
      }
      pairs.Add(base, static_cast<double>(kTransferBytes) / Seconds(start) / 1e6);
      p->link->Stop();
    }
  }
  pairs.Report(state, false);
}

// Process CPU (user + system) in seconds.
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The double runs in a child process so that only the link's threads count here.
pid_t SpawnServer(uint16_t& port) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    auto s = OpenUdpSocket("127.0.0.1", 0);
    uint16_t p = s ? s->LocalEndpoint().Port : 0;
    if (write(fds[1], &p, sizeof p) != sizeof p) _exit(1);
    if (!s) _exit(1);
    MsgServer server(std::move(s), SystemClock::Instance());
    server.Start();
    pause();
    _exit(0);
  }
  close(fds[1]);
  if (read(fds[0], &port, sizeof port) != sizeof port) port = 0;
  close(fds[0]);
  return pid;
}

// CPU share of one core used by a registered, idle link over `seconds`; negative on failure.
double IdleCpuPercent(bool polling, int seconds, int64_t& keepalives) {
  uint16_t port = 0;
  const pid_t child = SpawnServer(port);
  if (child <= 0 || port == 0) return -1;
  double result = -1;
  {
    std::mutex lock;
    client_udp link("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", port, "127.0.0.1", OpenUdpSocket(),
                    SystemClock::Instance(), lock, BenchDir());
    link.PlainPolling = polling;
    link.Start();
    link.SetEnabled(true);
    if (WaitUntil([&] { return link.Registered.load() && link.TablesReady.load(); },
                  std::chrono::seconds(10))) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      const int64_t before = link.DataDatagrams();
      const double cpu0 = CpuSeconds();
      const auto start = Steady::now();
      std::this_thread::sleep_for(std::chrono::seconds(seconds));
      const double cpu = CpuSeconds() - cpu0;
      keepalives = link.DataDatagrams() - before;  // answers received while idle
      if (link.Registered.load()) result = 100.0 * cpu / Seconds(start);
    }
    link.Stop();
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return result;
}

void BM_IdleCpu(benchmark::State& state) {
  const char* env = std::getenv("AB_IDLE_SECONDS");
  const int seconds = env != nullptr ? std::max(1, std::atoi(env)) : 30;
  for (auto _ : state) {
    int64_t answers_wait = 0, answers_poll = 0;
    const double poll = IdleCpuPercent(true, seconds, answers_poll);
    const double wait = IdleCpuPercent(false, seconds, answers_wait);
    if (poll < 0 || wait < 0) return state.SkipWithError("link did not stay registered");
    state.counters["wait_cpu_pct"] = wait;
    state.counters["poll_cpu_pct"] = poll;
    state.counters["wait_vs_poll_pct"] = poll > 0 ? 100.0 * wait / poll : 0.0;
    state.counters["answers_wait"] = static_cast<double>(answers_wait);
    state.counters["answers_poll"] = static_cast<double>(answers_poll);
  }
}

BENCHMARK(BM_TransferMessageLinkToServer)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TransferFileServerToLink)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace ab

BENCHMARK_MAIN();
