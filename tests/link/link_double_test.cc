// The link against the message-server double over an in-memory channel, stepped with a manual
// clock one millisecond at a time, with seeded loss.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "link/client_udp.h"
#include "link/memory_socket.h"
#include "msgserver/msg_server.h"
#include "support/link_with_double.h"
#include "support/temp_dir.h"
#include "util/json.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

constexpr Endpoint kLinkEnd{0x0A0000FE, 40000};
constexpr Endpoint kServerEnd{0x0A000001, 5000};

class LinkDoubleTest : public ::testing::Test {
 protected:
  explicit LinkDoubleTest(uint64_t seed = 7) {
    auto [a, b] = MakeMemorySocketPair(kLinkEnd, kServerEnd);
    server = std::make_unique<MsgServer>(std::move(b), clock, seed);
    link = std::make_unique<client_udp>("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", 5000,
                                        "10.0.0.1,10.0.0.2", std::move(a), clock, lock, dir.path(),
                                        false);
  }
  void Tick() { test::TickWithDouble(*link, *server, clock); }
  template <typename F>
  bool RunUntil(F done, std::chrono::milliseconds limit) {
    return test::RunWithDoubleUntil(*link, *server, clock, done, limit);
  }

  test::TempDir dir;
  ManualClock clock;
  std::mutex lock;
  std::unique_ptr<MsgServer> server;
  std::unique_ptr<client_udp> link;
};

TEST_F(LinkDoubleTest, RegistersKeepsAliveAndReregistersAfterSilence) {
  link->SetEnabled(true);
  ASSERT_TRUE(RunUntil([&] { return link->Registered.load(); }, 100ms));
  EXPECT_EQ(link->AddressIndex(), 0);
  RunUntil([] { return false; }, 5000ms);
  EXPECT_TRUE(link->Registered.load());
  EXPECT_GE(server->CountOf("testex"), 5);

  server->Silent = true;
  const uint64_t silent_at = TickCount(clock);
  ASSERT_TRUE(RunUntil([&] { return !link->Registered.load(); }, 12000ms));
  const double ms = TicksToMs(silent_at, TickCount(clock));
  EXPECT_GT(ms, 9000);  // the last reception was just before the server fell silent
  EXPECT_LE(ms, 10010);
  server->Silent = false;
  ASSERT_TRUE(RunUntil([&] { return link->Registered.load(); }, 5000ms));
  // Two addresses: the reset and the registration both move one place on.
  EXPECT_EQ(link->AddressIndex(), 0);
  std::vector<std::string> events;
  std::string e;
  while (link->EventQueue.Pop(e)) events.push_back(e);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(JsonGetValue(events[0], "$c$"), "connected");
  EXPECT_EQ(events[1], "{\"$c$\":\"disconnected\",\"p\":1}");
  EXPECT_EQ(JsonGetValue(events[2], "$c$"), "connected");
}

TEST_F(LinkDoubleTest, LostAcknowledgementsAreMadeGoodByResends) {
  link->SetEnabled(true);
  ASSERT_TRUE(RunUntil([&] { return link->Registered.load(); }, 100ms));
  server->DropAcks = 0.5;
  const std::string text = "{\"$c$\":\"m\",\"f\":\"" + std::string(5000, 'q') + "\"}";
  ASSERT_TRUE(link->OutQueue.Push(text));
  ASSERT_TRUE(RunUntil([&] { return !link->OutQueue.NotEmpty(); }, 10000ms));
  EXPECT_GT(link->Window.Resends, 0u);
  int copies = 0;
  for (const auto& m : server->Messages()) copies += m.Text == text ? 1 : 0;
  EXPECT_EQ(copies, 1);
}

TEST_F(LinkDoubleTest, DeniedRegistrationIsRetriedAfterThirtySeconds) {
  server->DenyRegistration = true;
  link->SetEnabled(true);
  ASSERT_TRUE(RunUntil([&] { return link->AccessDenied.load(); }, 100ms));
  server->DenyRegistration = false;
  ASSERT_TRUE(RunUntil([&] { return link->Registered.load(); }, 31000ms));
  EXPECT_EQ(server->CountOf("reg"), 2);
}

class LossyLinkTest : public LinkDoubleTest, public ::testing::WithParamInterface<uint64_t> {
 protected:
  LossyLinkTest() : LinkDoubleTest(GetParam()) {}
};

TEST_P(LossyLinkTest, MessagesArriveExactlyOnceInOrderDespiteLoss) {
  SCOPED_TRACE("seed " + std::to_string(GetParam()));
  link->SetEnabled(true);
  ASSERT_TRUE(RunUntil([&] { return link->Registered.load(); }, 100ms));
  server->DropIncoming = 0.2;
  server->DropOutgoing = 0.2;
  std::mt19937_64 random(GetParam());
  std::vector<std::string> sent;
  for (int i = 0; i < 60; ++i) {
    const size_t filler = std::uniform_int_distribution<size_t>(0, 20000)(random);
    sent.push_back("{\"$c$\":\"m\",\"i\":" + std::to_string(i) + ",\"f\":\"" +
                   std::string(filler, static_cast<char>('a' + i % 26)) + "\"}");
    ASSERT_TRUE(link->OutQueue.Push(sent.back()));
  }
  ASSERT_TRUE(RunUntil([&] { return !link->OutQueue.NotEmpty(); }, 120000ms));
  RunUntil([] { return false; }, 1000ms);  // last acknowledgements
  std::vector<std::string> got;
  for (const auto& m : server->Messages()) {
    if (JsonGetValue(m.Text, "$c$") == "m") got.push_back(m.Text);
  }
  EXPECT_GT(server->Dropped(), 100);  // the loss really happened
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(got[i], sent[i]) << i;
  EXPECT_TRUE(link->Registered.load());
}

INSTANTIATE_TEST_SUITE_P(Seeds, LossyLinkTest, ::testing::Values(1, 2, 3));

}  // namespace
}  // namespace ab
