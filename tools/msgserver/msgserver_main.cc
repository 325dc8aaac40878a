// msgserver-sim: the message-server test double on a UDP port, until interrupted.
// Usage: msgserver-sim [bind-address] [port] [--deny]

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "link/udp_socket.h"
#include "msgserver/msg_server.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }
}  // namespace

int main(int argc, char** argv) {
  const char* address = argc > 1 ? argv[1] : "127.0.0.1";
  const int port = argc > 2 ? std::atoi(argv[2]) : 10000;
  auto socket = ab::OpenUdpSocket(address, static_cast<uint16_t>(port));
  if (!socket) {
    std::fprintf(stderr, "msgserver-sim: cannot bind %s:%d\n", address, port);
    return 1;
  }
  ab::MsgServer server(std::move(socket), ab::SystemClock::Instance());
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--deny") == 0) server.DenyRegistration = true;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  server.Start();
  while (g_stop == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server.Stop();
  return 0;
}
