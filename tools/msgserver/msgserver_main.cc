// msgserver-sim: a message server for alarm-bridge on a UDP port, serving a data set and an
// event queue, driven by commands on standard input, until quit or interrupted.

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "link/udp_socket.h"
#include "msgserver/dataset.h"
#include "msgserver/msg_server.h"
#include "msgserver/sim_options.h"
#include "msgserver/simulator.h"
#include "util/func.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

void Catch(int sig) {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: poll() returns at once
  sigaction(sig, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const ab::sim::SimOptions o =
      ab::sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!o.Error.empty()) {
    std::fprintf(stderr, "msgserver-sim: %s\nTry 'msgserver-sim --help'.\n", o.Error.c_str());
    return 2;
  }
  if (o.Help) {
    std::fputs(ab::sim::SimUsage().c_str(), stdout);
    return 0;
  }
  if (o.Version) {
    std::printf("msgserver-sim %s\n", AB_VERSION);
    return 0;
  }
  if (!o.KeyTable.empty() && !ab::SetKeyTable1FromHex(o.KeyTable)) {
    std::fprintf(stderr, "msgserver-sim: --key-table was refused\n");
    return 2;
  }

  const std::string data_name = o.Data.empty() ? std::string("the built-in demo data set") : o.Data;
  const auto& clock = ab::SystemClock::Instance();
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(clock.WallNow().time_since_epoch()).count();
  ab::sim::DataSetRead data =
      o.Data.empty() ? ab::sim::ReadBuiltInDemo(now) : ab::sim::ReadDataSetFile(o.Data, now);
  if (!data.Error.empty()) {
    std::fprintf(stderr, "msgserver-sim: bad data set: %s\n", data.Error.c_str());
    return 1;
  }

  auto socket = ab::OpenUdpSocket(o.Bind, o.Port);
  if (!socket) {
    std::fprintf(stderr, "msgserver-sim: cannot listen on %s port %u (in use?)\n", o.Bind.c_str(),
                 static_cast<unsigned>(o.Port));
    return 1;
  }
  ab::MsgServer server(std::move(socket), clock, std::random_device{}());
  server.MaxRecorded = 1000;  // the simulator counts for itself; it may run for days
  server.DropIncoming = o.Loss;
  server.DropOutgoing = o.Loss;
  ab::sim::Simulator sim(server, std::move(data.Data), clock, std::cout, o.Verbose,
                         std::random_device{}());
  sim.Install();
  Catch(SIGINT);
  Catch(SIGTERM);
  std::signal(SIGPIPE, SIG_IGN);
  server.Start();
  const auto& d = sim.Data();
  sim.Print("msgserver-sim listening on " + o.Bind + " UDP port " +
            std::to_string(server.LocalEndpoint().Port) + " with " + data_name + ": " +
            std::to_string(d.Objects.size()) + " objects, " + std::to_string(d.Persons.size()) +
            " persons, " + std::to_string(d.Links.size()) + " links, " +
            std::to_string(d.Pictures.size()) + " pictures, " + std::to_string(d.Events.size()) +
            " queued events; type help for commands");

  bool reading = true;
  std::string pending;
  while (g_stop == 0) {
    sim.Tick(o.EventEvery);
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int ready = reading ? poll(&p, 1, 200) : poll(nullptr, 0, 200);
    if (ready <= 0 || !reading) continue;
    char buf[4096];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reading = false;  // no more commands; serve until interrupted
      continue;
    }
    pending.append(buf, static_cast<size_t>(n));
    bool quit = false;
    for (size_t nl = pending.find('\n'); nl != std::string::npos; nl = pending.find('\n')) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!sim.Command(line)) {
        quit = true;
        break;
      }
    }
    if (quit) break;
    if (pending.size() > 65536) pending.clear();  // no line that long is a command
  }
  server.Stop();
  sim.Print("msgserver-sim stopped");
  return 0;
}
