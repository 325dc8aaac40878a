// A minute of 20 % datagram loss both ways between the driver and the double while a consumer
// follows the event queue and acknowledges alarms over SPI: no event is lost or repeated, and
// every acknowledgement reaches the server exactly once.

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <map>

#include "e2e_fixture.h"

namespace ab::e2e {
namespace {

TEST(EventsLossSlowEndToEndTest, TwentyPercentLossBothWaysLosesAndRepeatsNothing) {
  Bridge bridge;
  bridge.Server().SetPackSize(10);
  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();
  const size_t stdout_at_start = bridge.Proc().Text().size();

  bridge.Server().DropIncoming = 0.2;
  bridge.Server().DropOutgoing = 0.2;
  std::atomic<bool> lossy{true};
  std::thread producer([&] {
    for (int i = 0; lossy; ++i) {
      bridge.Server().AppendEvent("{\"k\":\"e" + std::to_string(i) + "\"}");
      std::this_thread::sleep_for(100ms);
    }
  });

  const std::vector<int32_t> ids = {101, 102, 103, 104};
  std::map<int32_t, int> posted;
  int unanswered_acks = 0;
  EventConsumer consumer;
  auto consume = [&] {
    const int n = consumer.Poll(bridge);
    if (n < 0) {
      std::this_thread::sleep_for(200ms);
      return;
    }
    if (n == 0) {
      std::this_thread::sleep_for(50ms);  // caught up: poll again shortly, as a consumer would
      return;
    }
    const int32_t id = ids[consumer.Counters.size() % ids.size()];
    const HttpReply r = bridge.Spi("<ns:SendAckReq id=\"" + std::to_string(id) + "\"/>",
                                   bridge.Config().UserName, bridge.Config().Password);
    if (r.Answered && r.Body == ExpectedSpiAck(bridge.Data(), id)) {
      ++posted[id];
    } else {
      ++unanswered_acks;
    }
  };
  const auto start = Clock::now();
  while (SecondsSince(start) < 60) consume();
  lossy = false;
  producer.join();
  bridge.Server().DropIncoming = 0.0;
  bridge.Server().DropOutgoing = 0.0;
  const auto total = static_cast<size_t>(bridge.Server().QueueCount());
  const auto drain_start = Clock::now();
  while (consumer.Counters.size() < total && SecondsSince(drain_start) < 90) consume();

  int acks = 0;
  for (const auto& [id, n] : posted) acks += n;
  std::cout << total << " events, " << consumer.Polls << " polls (" << consumer.Unanswered
            << " unanswered), " << acks << " acknowledgements, " << bridge.Server().Dropped()
            << " datagrams dropped, "
            << Occurrences(bridge.Proc().Text().substr(stdout_at_start), "Потеря соединения")
            << " link losses\n";
  EXPECT_EQ(unanswered_acks, 0);
  ASSERT_EQ(consumer.Counters.size(), total);
  for (size_t i = 0; i < total; ++i) ASSERT_EQ(consumer.Counters[i], static_cast<int64_t>(i));

  EXPECT_TRUE(WaitFor([&] { return bridge.Server().CountOf("netwritesoobe") >= acks; }, 30s));
  std::this_thread::sleep_for(2s);  // a late duplicate would show up here
  std::map<std::string, int> arrived;
  for (const auto& m : bridge.Received("netwritesoobe")) ++arrived[m];
  std::map<std::string, int> expected;
  for (const auto& [id, n] : posted)
    expected[ExpectedAckCommand(bridge.Data(), id, bridge.Config().UserName)] = n;
  EXPECT_EQ(arrived, expected);
  EXPECT_GT(bridge.Server().Dropped(), 0);
}

}  // namespace
}  // namespace ab::e2e
