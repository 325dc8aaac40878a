// The link and the message-server double on real loopback UDP sockets, each on its threads.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/client_udp.h"
#include "link/udp_socket.h"
#include "msgserver/msg_server.h"
#include "support/temp_dir.h"
#include "util/json.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

// Polls a condition on the real clock; the protocol itself runs on its own threads.
template <typename F>
bool WaitFor(F done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

TEST(LoopbackTest, RegistersKeepsAliveAndSaysGoodbye) {
  auto server_socket = OpenUdpSocket("127.0.0.1", 0);
  ASSERT_NE(server_socket, nullptr);
  const uint16_t port = server_socket->LocalEndpoint().Port;
  MsgServer server(std::move(server_socket), SystemClock::Instance());
  server.Start();
  test::TempDir dir;
  std::mutex lock;
  client_udp link("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", port, "127.0.0.1", OpenUdpSocket(),
                  SystemClock::Instance(), lock, dir.path());
  ASSERT_TRUE(link.Usable());
  link.Start();
  link.SetEnabled(true);
  ASSERT_TRUE(WaitFor([&] { return link.Registered.load(); }, 10s));
  EXPECT_EQ(link.ConnectionId, TidToConnectionId(server.Tid));
  // A keep-alive a second, each answered.
  ASSERT_TRUE(WaitFor([&] { return server.CountOf("testex") >= 3; }, 10s));
  EXPECT_TRUE(link.Registered.load());
  EXPECT_EQ(server.CountOf("reg"), 1);
  link.SetEnabled(false);
  link.Stop();
  ASSERT_TRUE(WaitFor([&] { return server.CountOf("closeclient") == 1; }, 5s));
  server.Stop();
}

TEST(LoopbackTest, TwoHundredMessagesArriveExactlyOnceInOrderWithTwentyPercentLoss) {
  const uint64_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  auto server_socket = OpenUdpSocket("127.0.0.1", 0);
  ASSERT_NE(server_socket, nullptr);
  const uint16_t port = server_socket->LocalEndpoint().Port;
  MsgServer server(std::move(server_socket), SystemClock::Instance(), seed);
  server.Start();

  test::TempDir dir;
  std::mutex lock;
  auto socket = OpenUdpSocket();
  ASSERT_NE(socket, nullptr);
  client_udp link("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", port, "127.0.0.1", std::move(socket),
                  SystemClock::Instance(), lock, dir.path());
  link.Start();
  link.SetEnabled(true);
  ASSERT_TRUE(WaitFor([&] { return link.Registered.load(); }, 10s));

  server.DropIncoming = 0.2;
  server.DropOutgoing = 0.2;
  std::mt19937_64 random(seed);
  std::vector<std::string> sent;
  for (int i = 0; i < 200; ++i) {
    const size_t filler = std::uniform_int_distribution<size_t>(0, 20000 - 40)(random);
    sent.push_back("{\"$c$\":\"m\",\"i\":" + std::to_string(i) + ",\"f\":\"" +
                   std::string(filler, static_cast<char>('a' + i % 26)) + "\"}");
    ASSERT_TRUE(link.OutQueue.Push(sent.back()));
  }
  ASSERT_TRUE(WaitFor([&] { return !link.OutQueue.NotEmpty(); }, 240s));
  EXPECT_TRUE(link.Registered.load());
  link.SetEnabled(false);
  link.Stop();
  server.Stop();

  std::vector<std::string> got;
  for (const auto& m : server.Messages()) {
    if (JsonGetValue(m.Text, "$c$") == "m") got.push_back(m.Text);
  }
  EXPECT_GT(server.Dropped(), 100);  // the loss really happened
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(got[i], sent[i]) << i;
}

}  // namespace
}  // namespace ab
