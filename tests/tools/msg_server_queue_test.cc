// The double's event queue followed by a real link and its "bg" cursor over an in-memory
// channel, stepped with a manual clock: counters, positions and packages must agree with the
// cursor so that a consumer sees every entry once.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/client_udp.h"
#include "link/link_sync.h"
#include "link/memory_socket.h"
#include "msgserver/msg_server.h"
#include "support/temp_dir.h"
#include "util/json.h"
#include "util/queue.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

constexpr Endpoint kLinkEnd{0x0A0000FE, 40000};
constexpr Endpoint kServerEnd{0x0A000001, 5000};

std::vector<std::string> Entries(std::string pack) {
  std::string zap = JsonGetValue(pack, "zap");
  std::vector<std::string> out;
  for (std::string e = JsonNextElement(zap); !e.empty(); e = JsonNextElement(zap)) {
    out.push_back(e);
  }
  return out;
}

class QueueTest : public ::testing::Test {
 protected:
  QueueTest() {
    auto [a, b] = MakeMemorySocketPair(kLinkEnd, kServerEnd);
    server = std::make_unique<MsgServer>(std::move(b), clock);
    MakeLink(std::move(a));
  }
  void MakeLink(std::unique_ptr<MemorySocket> socket) {
    queues.clear();
    AddQueue(queues, "bg");
    link = std::make_unique<client_udp>("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", 5000, "10.0.0.1",
                                        std::move(socket), clock, lock, dir.path(), false);
    link->Queues = &queues;
    sync = std::make_unique<LinkSync>(*link, nullptr, lock, [](const std::string&) {});
    link->Sync = sync.get();
    link->SetEnabled(true);
  }
  void TearDown() override { link->Sync = nullptr; }
  void Tick() {
    while (link->ReceivePass()) {
    }
    for (int i = 0; i < 10 && link->Iterate(); ++i) {
    }
    server->Step();
    clock.Advance(1ms);
  }
  template <typename F>
  bool RunUntil(F done, std::chrono::milliseconds limit) {
    for (int64_t t = 0; t < limit.count(); ++t) {
      if (done()) return true;
      Tick();
    }
    return done();
  }
  TFQueueC& Bg() { return *queues[0]; }
  // A package that has come after the queue information (which releases any package).
  bool PackReady() {
    std::lock_guard l(lock);
    return Bg().InfoReceived && Bg().PackReady;
  }
  // What a consumer confirming by counter does with a waiting package: takes its entries,
  // confirms the last one and asks for the next package at once.
  std::vector<std::string> TakePack() {
    std::vector<std::string> got;
    {
      std::lock_guard l(lock);
      if (!Bg().PackReady) return got;
      got = Entries(Bg().Pack);
      if (got.empty()) return got;
      Bg().Acknowledge(std::stoi(JsonGetValue(got.back(), "inc_counter")));
    }
    link->RequestKeepalive();
    return got;
  }

  test::TempDir dir;
  ManualClock clock;
  std::mutex lock;
  TAQueue queues;
  std::unique_ptr<MsgServer> server;
  std::unique_ptr<client_udp> link;
  std::unique_ptr<LinkSync> sync;
};

TEST_F(QueueTest, ConsumerSeesEveryEntryOnceInOrderWhileEntriesKeepComing) {
  server->SetPackSize(4);
  for (int i = 0; i < 6; ++i) server->AppendEvent("{\"t\":\"a" + std::to_string(i) + "\"}");
  ASSERT_TRUE(RunUntil([&] { return link->Registered.load(); }, 100ms));
  std::vector<std::string> seen;
  int appended = 6;
  for (int round = 0; round < 200 && seen.size() < 23; ++round) {
    if (appended < 23) {
      server->AppendEvent("{\"t\":\"a" + std::to_string(appended) + "\"}");
      ++appended;
    }
    RunUntil([&] { return PackReady(); }, 1500ms);
    for (auto& e : TakePack()) seen.push_back(e);
  }
  ASSERT_EQ(seen.size(), 23u);
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(JsonGetValue(seen[i], "inc_counter"), std::to_string(i));
    EXPECT_EQ(JsonGetValue(seen[i], "t"), "a" + std::to_string(i));
  }
  EXPECT_EQ(server->QueueCount(), 23);
  ASSERT_TRUE(RunUntil([&] { return server->ReportedPosition() == 23; }, 2000ms));
  std::lock_guard l(lock);
  EXPECT_EQ(Bg().Count, 23);
  EXPECT_EQ(Bg().Position, 23);
  EXPECT_FALSE(Bg().PackReady);
}

TEST_F(QueueTest, HeldPackageStaysAsItIsAndItsDateStampFollowsIt) {
  server->AppendEvent("{\"event_date\":\"1000\",\"t\":\"x\"}");
  server->AppendEvent("{\"event_date\":\"1001\"}");
  ASSERT_TRUE(RunUntil([&] { return PackReady(); }, 3000ms));
  server->AppendEvent("{\"event_date\":\"1005\"}");
  EXPECT_EQ(server->ReportedPosition(), 0);
  RunUntil([] { return false; }, 3000ms);  // keep-alives that report the package as held
  {
    std::lock_guard l(lock);
    EXPECT_EQ(Bg().Count, 3);
    EXPECT_EQ(Bg().InPack, 2);
    EXPECT_EQ(Entries(Bg().Pack).size(), 2u);
    // A consumer holding event 1001 must be able to confirm this package by date.
    EXPECT_EQ(Bg().DateTime, 1001);
  }
  const auto first = TakePack();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0], "{\"inc_counter\":\"0\",\"event_date\":\"1000\",\"t\":\"x\"}");
  ASSERT_TRUE(RunUntil([&] { return PackReady(); }, 1000ms));
  std::lock_guard l(lock);
  EXPECT_EQ(Bg().Position, 2);
  EXPECT_EQ(Bg().DateTime, 1005);
  ASSERT_EQ(Entries(Bg().Pack).size(), 1u);
  EXPECT_EQ(JsonGetValue(Bg().Pack, "inc_counter"), "2");
}

TEST_F(QueueTest, EntriesGetTheirCounterFirstAndADateWhenTheyHaveNone) {
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(clock.WallNow().time_since_epoch()).count();
  const std::string date = std::to_string(now);
  const struct {
    std::string In, Out;
  } cases[] = {
      {"{}", "{\"inc_counter\":\"0\",\"event_date\":\"" + date + "\"}"},
      {"{\"event_date\":\"7\"}", "{\"inc_counter\":\"1\",\"event_date\":\"7\"}"},
      {" { \"a\":1}", " {\"inc_counter\":\"2\",\"event_date\":\"" + date + "\", \"a\":1}"},
      {"{\"t\":\"\xCF\xF0\xEE\xE1\xE0\"}",
       "{\"inc_counter\":\"3\",\"event_date\":\"" + date + "\",\"t\":\"\xCF\xF0\xEE\xE1\xE0\"}"},
  };
  for (const auto& c : cases) server->AppendEvent(c.In);
  ASSERT_TRUE(RunUntil([&] { return PackReady(); }, 3000ms));
  std::lock_guard l(lock);
  const auto got = Entries(Bg().Pack);
  ASSERT_EQ(got.size(), std::size(cases));
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(got[i], cases[i].Out.substr(cases[i].Out.find('{')));
}

TEST_F(QueueTest, ANewRegistrationLearnsThePositionAndContinuesWithoutRepeats) {
  for (int i = 0; i < 5; ++i) server->AppendEvent("{}");
  server->SetPackSize(3);
  ASSERT_TRUE(RunUntil([&] { return PackReady(); }, 3000ms));
  ASSERT_EQ(TakePack().size(), 3u);
  ASSERT_TRUE(RunUntil([&] { return server->ReportedPosition() == 3; }, 2000ms));

  // The cursor forgets everything, as after a restart of the driver; the server falls silent
  // long enough for the link to register again and ask for the queue.
  {
    std::lock_guard l(lock);
    Bg() = TFQueueC{};
    Bg().Name = "bg";
  }
  server->Silent = true;
  ASSERT_TRUE(RunUntil([&] { return !link->Registered.load(); }, 12000ms));
  server->Silent = false;
  ASSERT_TRUE(RunUntil([&] { return PackReady(); }, 8000ms));
  EXPECT_EQ(server->CountOf("getqueue"), 2);
  std::lock_guard l(lock);
  EXPECT_EQ(Bg().Count, 5);
  EXPECT_EQ(Bg().Position, 3);
  const auto next = Entries(Bg().Pack);
  ASSERT_EQ(next.size(), 2u);
  EXPECT_EQ(JsonGetValue(next[0], "inc_counter"), "3");
}

TEST_F(QueueTest, AFixedQueueAnswerWinsOverTheEventQueue) {
  server->AppendEvent("{}");
  server->SetQueueAnswer("{\"name\":\"bg\",\"count\":\"9\",\"datetime\":\"4\"}");
  ASSERT_TRUE(RunUntil([&] { return server->ReportedPosition() == 0; }, 3000ms));
  RunUntil([] { return false; }, 1500ms);
  std::lock_guard l(lock);
  EXPECT_EQ(Bg().Count, 9);
  EXPECT_EQ(Bg().DateTime, 4);
  EXPECT_FALSE(Bg().PackReady);
}

TEST_F(QueueTest, HooksSeeWhatArrivesAndWhatGoesOut) {
  std::vector<std::string> in;
  std::vector<std::string> out;
  server->OnReceived = [&](const MsgServer::Received& r) {
    in.push_back(JsonGetValue(r.Text, "$c$"));
    server->QueueCount();  // the hooks run outside the double's lock
  };
  server->OnSending = [&](uint8_t kind, const std::string& bytes) {
    if (kind == 0) out.push_back(JsonGetValue(bytes, "$c$"));
  };
  ASSERT_TRUE(RunUntil([&] { return in.size() >= 3 && out.size() >= 3; }, 3000ms));
  EXPECT_EQ(in[0], "reg");
  EXPECT_EQ(std::count(in.begin(), in.end(), "getqueue"), 1);
  EXPECT_EQ(out[0], "regok");
  EXPECT_EQ(std::count(out.begin(), out.end(), "queuezag"), 1);
  EXPECT_EQ(server->Messages().size(), in.size());
}

TEST_F(QueueTest, ARunOfManyKeepalivesKeepsOnlyTheNewestRecords) {
  server->MaxRecorded = 5;
  ASSERT_TRUE(RunUntil([&] { return link->Registered.load(); }, 100ms));
  RunUntil([] { return false; }, 30000ms);
  const auto kept = server->Messages();
  EXPECT_GE(kept.size(), 5u);
  EXPECT_LT(kept.size(), 10u);
  // The newest stay: the last record is a keep-alive of the last second.
  EXPECT_EQ(JsonGetValue(kept.back().Text, "$c$"), "testex");
  EXPECT_GT(kept.back().Number, 25);
  EXPECT_TRUE(link->Registered.load());
}

}  // namespace
}  // namespace ab
