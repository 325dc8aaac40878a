// Whole-driver figures: the real alarm-bridge --headless in a fresh folder against the
// message-server double in this process, over loopback.
//   driver_bench events [count] [pause_ms]  event from the double's queue to a /GetEvents
//                                  consumer asking again at once (or pause_ms after an empty
//                                  answer)
//   driver_bench acks [count]      SendAckReq answer to the double receiving "netwritesoobe"
//   driver_bench startup [objects] process start to the first /GetObjects answer, by phase
//   driver_bench idle [seconds]    CPU of the registered driver without consumers
// Each prints its figures next to a baseline measured in the same run.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/udp_socket.h"
#include "msgserver/msg_server.h"
#include "support/object_tables.h"
#include "tables/table_file_writer.h"

namespace ab {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
  double Median = 0, P99 = 0, Min = 0, Max = 0;
};
Stats Summarise(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.Median = v[v.size() / 2];
  s.P99 = v[std::min(v.size() - 1, (v.size() * 99 + 99) / 100 - 1)];
  s.Min = v.front();
  s.Max = v.back();
  return s;
}

// alarm-bridge --headless; its stdout is drained on a thread so that it never blocks.
class Bridge {
 public:
  explicit Bridge(const std::filesystem::path& dir) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    Started = Clock::now();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      if (chdir(dir.c_str()) != 0) _exit(127);
      execl(AB_BINARY, AB_BINARY, "--headless", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    reader_ = std::thread([fd = fds[0]] {
      char buf[4096];
      while (read(fd, buf, sizeof buf) > 0) {
      }
      close(fd);
    });
  }
  ~Bridge() {
    kill(pid_, SIGTERM);
    int status = 0;
    bool reaped = false;
    for (int i = 0; i < 2000 && !reaped; ++i) {
      reaped = waitpid(pid_, &status, WNOHANG) == pid_;
      if (!reaped) std::this_thread::sleep_for(10ms);
    }
    if (!reaped) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    reader_.join();
  }
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;
  pid_t Pid() const { return pid_; }

  Clock::time_point Started;

 private:
  pid_t pid_ = -1;
  std::thread reader_;
};

struct HttpResult {
  int Status = 0;  // 0: no connection or no answer
  std::string Body;
};

// One request on its own connection, read until the server closes it.
HttpResult Exchange(uint16_t port, const std::string& request) {
  HttpResult r;
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return r;
  }
  for (size_t sent = 0; sent < request.size();) {
    ssize_t n = send(s, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string in;
  char buf[65536];
  for (ssize_t n; (n = recv(s, buf, sizeof buf, 0)) > 0;) in.append(buf, static_cast<size_t>(n));
  close(s);
  size_t head = in.find("\r\n\r\n");
  if (in.compare(0, 9, "HTTP/1.1 ") != 0 || head == std::string::npos) return r;
  r.Status = std::atoi(in.c_str() + 9);
  r.Body = in.substr(head + 4);
  return r;
}

std::string Post(const std::string& path, const std::string& body, const std::string& extra = "") {
  return "POST " + path + " HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n" + extra +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Numbers following key in text, in order, quoted or not.
std::vector<int64_t> NumbersAfter(const std::string& text, const std::string& key) {
  std::vector<int64_t> out;
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
    const char* p = text.c_str() + at + key.size();
    if (*p == '"') ++p;
    out.push_back(std::strtoll(p, nullptr, 10));
  }
  return out;
}

// The folder, the double and setup.ini of one run.
class Rig {
 public:
  Rig() {
    char tmpl[] = "/tmp/ab-driver-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    dir = tmpl;
    server = std::make_unique<MsgServer>(OpenUdpSocket("127.0.0.1", 0), SystemClock::Instance());
    sockaddr_in a{};
    socklen_t len = sizeof a;
    int s = socket(AF_INET, SOCK_STREAM, 0);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    http_port = ntohs(a.sin_port);
    close(s);
    std::ofstream(dir / "setup.ini")
        << "[ServerHost]\nAddress=127.0.0.1\nPort=" << server->LocalEndpoint().Port
        << "\n[main]\nPort=" << http_port << "\nUserName=bench\nPassword=pw\n";
  }
  ~Rig() {
    bridge.reset();
    server->Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  // Starts the double and the binary, and waits until /GetEvents answers.
  bool Run(Clock::duration limit = 120s) {
    server->Start();
    bridge = std::make_unique<Bridge>(dir);
    auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      if (Exchange(http_port, Post("/GetEvents", "{}")).Status == 200) return true;
      std::this_thread::sleep_for(20ms);
    }
    std::fprintf(stderr, "the driver did not serve within the limit\n");
    return false;
  }

  std::filesystem::path dir;
  uint16_t http_port = 0;
  std::unique_ptr<MsgServer> server;
  std::unique_ptr<Bridge> bridge;
};

// A few rows per table, enough to register, load and acknowledge object 7.
std::vector<TableData> SmallTables() {
  using bench::Field;
  using bench::Table;
  auto numbered = [](std::vector<int64_t> n) {
    FieldData f = Field("n_abs", 1);
    f.Numbers = std::move(n);
    FieldData pd = Field("p_d", 3);
    pd.Numbers.assign(f.Numbers.size(), 0);
    return std::make_pair(f, pd);
  };
  auto [on, opd] = numbered({7, 8});
  FieldData typeo = Field("typeo", 24), number = Field("number", 24), name = Field("name", 24);
  typeo.Texts = {"3", "3"};
  number.Texts = {"1007", "1008"};
  name.Texts = {"A", "B"};
  std::vector<TableData> t;
  for (const char* n : {"mesmaps", "otvl", "otvls"}) {
    auto [nn, pd] = numbered({1});
    t.push_back(Table(n, 1, 2, {{1, nn}, {2, pd}}));
  }
  t.push_back(Table("object", 2, 8, {{1, on}, {2, opd}, {5, typeo}, {6, number}, {8, name}}));
  return t;
}

void PrintStats(const char* what, const Stats& s) {
  std::printf("%-40s median %8.3f ms  p99 %8.3f ms  (min %.3f, max %.3f)\n", what, s.Median, s.P99,
              s.Min, s.Max);
}

int Events(int count, int pause_ms) {
  Rig rig;
  rig.server->SetTables(SmallTables(), true);
  if (!rig.Run()) return 1;

  // Baseline: the same request answered at once (nothing waiting, nothing acknowledged).
  std::vector<double> baseline;
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    if (Exchange(rig.http_port, Post("/GetEvents", "{}")).Status != 200) return 1;
    baseline.push_back(Ms(Clock::now() - t0));
  }

  // The consumer confirms by date; the dates are distinct, so a package is never confirmed
  // before it was received.
  constexpr int64_t kDateBase = 1'000'000;
  std::vector<Clock::time_point> appended(static_cast<size_t>(count)), received(appended.size());
  std::vector<bool> got(appended.size(), false);
  std::mutex mu;
  std::condition_variable cv;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> requests{0};
  std::thread consumer([&] {
    int64_t newest = 0;
    while (!stop) {
      HttpResult r = Exchange(
          rig.http_port, Post("/GetEvents", "{\"events_date\":" + std::to_string(newest) + "}"));
      ++requests;
      auto now = Clock::now();
      if (r.Status != 200) continue;
      // A consumer that waits between answers without news.
      if (pause_ms > 0 && r.Body == "[]")
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
      std::lock_guard lk(mu);
      for (int64_t c : NumbersAfter(r.Body, "\"inc_counter\":")) {
        if (c >= 0 && c < count && !got[static_cast<size_t>(c)]) {
          got[static_cast<size_t>(c)] = true;
          received[static_cast<size_t>(c)] = now;
        }
      }
      for (int64_t d : NumbersAfter(r.Body, "\"event_date\":")) newest = std::max(newest, d);
      cv.notify_all();
    }
  });
  std::mt19937 random(7);
  std::vector<double> latency;
  int lost = 0;
  auto started = Clock::now();
  for (int i = 0; i < count; ++i) {
    auto c = static_cast<size_t>(i);
    appended[c] = Clock::now();
    rig.server->AppendEvent("{\"event_date\":" + std::to_string(kDateBase + i) +
                            ",\"text\":\"bench\"}");
    std::unique_lock lk(mu);
    if (!cv.wait_for(lk, 10s, [&] { return got[c]; })) {
      ++lost;
      continue;
    }
    latency.push_back(Ms(received[c] - appended[c]));
    lk.unlock();
    // Appends fall at any point of the consumer's request cycle.
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
  }
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  stop = true;
  consumer.join();
  Stats e = Summarise(latency), b = Summarise(baseline);
  PrintStats("event, appended -> consumer has it", e);
  PrintStats("baseline: /GetEvents round trip", b);
  std::printf(
      "events %zu of %d received; consumer paused %d ms after an empty answer and made %.0f "
      "requests/s; ratio of medians %.2f\n",
      latency.size(), count, pause_ms, static_cast<double>(requests) / seconds,
      e.Median / b.Median);
  return lost == 0 ? 0 : 1;
}

int Acks(int count) {
  Rig rig;
  rig.server->SetTables(SmallTables(), true);
  std::mutex mu;
  std::condition_variable cv;
  std::vector<Clock::time_point> arrivals;
  rig.server->OnReceived = [&](const MsgServer::Received& m) {
    if (m.Text.find("\"netwritesoobe\"") == std::string::npos) return;
    auto now = Clock::now();
    std::lock_guard lk(mu);
    arrivals.push_back(now);
    cv.notify_all();
  };
  if (!rig.Run()) return 1;
  const std::string request =
      Post("/spi",
           "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
           "<ns:SendAckReq id=\"7\"/></soap:Body></soap:Envelope>",
           "Authorization: Basic YmVuY2g6cHc=\r\nContent-Type: text/xml\r\n");
  std::vector<double> from_answer, from_request, round_trip;
  int lost = 0;
  for (int i = 0; i < count; ++i) {
    auto sent = Clock::now();
    HttpResult r = Exchange(rig.http_port, request);
    auto answered = Clock::now();
    if (r.Status != 200 || r.Body.find("SendAckRes") == std::string::npos) {
      std::fprintf(stderr, "unexpected answer %d: %s\n", r.Status, r.Body.c_str());
      return 1;
    }
    std::unique_lock lk(mu);
    if (!cv.wait_for(lk, 10s, [&] { return arrivals.size() > static_cast<size_t>(i); })) {
      ++lost;
      break;
    }
    auto at = arrivals[static_cast<size_t>(i)];
    from_answer.push_back(Ms(at - answered));
    from_request.push_back(Ms(at - sent));
    round_trip.push_back(Ms(answered - sent));
  }
  Stats a = Summarise(from_answer), q = Summarise(from_request), b = Summarise(round_trip);
  PrintStats("ack, answer -> double has the command", a);
  PrintStats("ack, request sent -> double has it", q);
  PrintStats("baseline: SendAckReq round trip", b);
  std::printf("acks %zu of %d delivered; ratio of medians (from request / round trip) %.2f\n",
              from_answer.size(), count, q.Median / b.Median);
  return lost == 0 ? 0 : 1;
}

// The phases are marked where the double sees them: the link's load request for each table,
// the start of each file transfer and its last acknowledgement (the double sends one transfer
// at a time, so the first completion after a file started is that file's).
int Startup(int objects) {
  Rig rig;
  bench::ObjectTables data = bench::MakeObjectTables(objects);
  rig.server->SetTables({data.Pictures, data.Persons, data.Links, data.Objects}, true);
  std::mutex mu;
  std::vector<Clock::time_point> requested, file_starts, files_done;
  std::vector<int64_t> done_before;
  size_t file_bytes = 0;
  rig.server->OnReceived = [&](const MsgServer::Received& m) {
    if (m.Text.find("\"gettableraw\"") == std::string::npos) return;
    std::lock_guard lk(mu);
    requested.push_back(Clock::now());
  };
  rig.server->OnSending = [&](uint8_t kind, const std::string& bytes) {
    if (kind != 1) return;
    auto now = Clock::now();
    int64_t done = rig.server->TransfersDone();
    std::lock_guard lk(mu);
    file_starts.push_back(now);
    done_before.push_back(done);
    file_bytes += bytes.size();
  };
  rig.server->Start();
  std::atomic<bool> stop{false};
  std::thread watch([&] {
    while (!stop) {
      int64_t done = rig.server->TransfersDone();
      auto now = Clock::now();
      {
        std::lock_guard lk(mu);
        if (files_done.size() < file_starts.size() && done > done_before[files_done.size()])
          files_done.push_back(now);
      }
      std::this_thread::sleep_for(200us);
    }
  });
  rig.bridge = std::make_unique<Bridge>(rig.dir);
  Bridge& b = *rig.bridge;
  HttpResult first;
  Clock::time_point asked, answered;
  auto end = Clock::now() + 300s;
  while (Clock::now() < end) {
    asked = Clock::now();
    first = Exchange(rig.http_port, "GET /GetObjects HTTP/1.1\r\nHost: bench\r\n\r\n");
    if (first.Status == 200) {
      answered = Clock::now();
      break;
    }
    std::this_thread::sleep_for(5ms);
  }
  stop = true;
  watch.join();
  if (first.Status != 200) {
    std::fprintf(stderr, "no /GetObjects answer\n");
    return 1;
  }
  size_t passports = NumbersAfter(first.Body, "{\"passport\":").size();
  std::lock_guard lk(mu);
  if (requested.size() < 4 || file_starts.size() < 4 || files_done.size() < 4) {
    std::fprintf(stderr, "missing marks: requests %zu, files %zu/%zu\n", requested.size(),
                 file_starts.size(), files_done.size());
    return 1;
  }
  double total = Ms(answered - b.Started);
  double asking = 0, transfer = 0, loading = 0;
  for (size_t i = 0; i < 4; ++i) {
    asking += Ms(file_starts[i] - requested[i]);
    transfer += Ms(files_done[i] - file_starts[i]);
    if (i < 3) loading += Ms(requested[i + 1] - files_done[i]);
  }
  std::printf(
      "start-up with %d objects: 4 compressed files of %zu bytes in all; first answer has "
      "%zu passports, %zu bytes\n",
      objects, file_bytes, passports, first.Body.size());
  std::printf("  total, process start -> first /GetObjects answer  %9.1f ms\n", total);
  auto share = [&](const char* what, double ms) {
    std::printf("  %-48s %9.1f ms  %5.1f %%\n", what, ms, 100 * ms / total);
  };
  share("process start and registration", Ms(requested[0] - b.Started));
  share("load requests answered, files announced", asking);
  share("transfer of the four files", transfer);
  share("loading and indexing of the first three", loading);
  share("loading \"object\", indexing, server start", Ms(asked - files_done[3]));
  share("the first answer itself", Ms(answered - asked));
  std::printf(
      "  (the server starts on the 100 ms status tick once all four tables are in, and\n"
      "   is polled every 5 ms)\n");
  return passports == static_cast<size_t>(objects) ? 0 : 1;
}

// CPU seconds (user + system) of a process from /proc/<pid>/stat.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close_paren = stat.rfind(')');
  if (close_paren == std::string::npos) return 0;
  std::vector<std::string> f;
  size_t at = close_paren + 2;
  while (at < stat.size()) {
    size_t sp = stat.find(' ', at);
    f.push_back(stat.substr(at, sp - at));
    if (sp == std::string::npos) break;
    at = sp + 1;
  }
  // Fields 14 and 15 of the file; f starts at field 3.
  if (f.size() < 13) return 0;
  return (std::stod(f[11]) + std::stod(f[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int Idle(int seconds) {
  Rig rig;
  rig.server->SetTables(SmallTables(), true);
  if (!rig.Run()) return 1;
  // Baseline: a process that wakes every millisecond, as a loop polling for work would.
  pid_t poller = fork();
  if (poller == 0) {
    for (;;) usleep(1000);
  }
  std::this_thread::sleep_for(2s);  // let the start settle
  pid_t ours = rig.bridge->Pid();
  double c0 = CpuSeconds(ours), p0 = CpuSeconds(poller);
  int64_t keepalives0 = rig.server->CountOf("testex");
  auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  double c1 = CpuSeconds(ours), p1 = CpuSeconds(poller);
  int64_t keepalives = rig.server->CountOf("testex") - keepalives0;
  kill(poller, SIGKILL);
  waitpid(poller, nullptr, 0);
  double share = 100 * (c1 - c0) / wall, base = 100 * (p1 - p0) / wall;
  std::printf("idle over %.1f s: alarm-bridge %.3f %% of one core (%.2f s CPU), %lld keep-alives\n",
              wall, share, c1 - c0, static_cast<long long>(keepalives));
  std::printf("baseline, a 1 ms polling loop: %.3f %% of one core; ratio %.3f (goal < 0.5 %%)\n",
              base, base > 0 ? share / base : 0.0);
  return 0;
}

}  // namespace
}  // namespace ab

int main(int argc, char** argv) {
  std::string what = argc > 1 ? argv[1] : "";
  int n = argc > 2 ? std::atoi(argv[2]) : 0;
  if (what == "events") return ab::Events(n > 0 ? n : 1000, argc > 3 ? std::atoi(argv[3]) : 0);
  if (what == "acks") return ab::Acks(n > 0 ? n : 1000);
  if (what == "startup") return ab::Startup(n > 0 ? n : 20000);
  if (what == "idle") return ab::Idle(n > 0 ? n : 60);
  std::fprintf(
      stderr,
      "usage: driver_bench events [n [pause_ms]] | acks [n] | startup [objects] | idle [s]\n");
  return 2;
}
