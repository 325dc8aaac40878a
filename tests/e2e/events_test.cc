// /GetEvents of the running driver following the double's event queue "bg" by counters or by
// dates while events keep arriving: every entry exactly once, in order, passed through as the server sent
// it, and the position the driver reports to the server follows the consumer.

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <fstream>

#include "e2e_fixture.h"
#include "util/json.h"

namespace ab::e2e {
namespace {

std::string Entry(int i) {
  return "{\"event_date\":\"" + std::to_string(1700000000 + i) + "\",\"k\":\"e" +
         std::to_string(i) + "\",\"text\":\"" + Utf8ToCp1251("Тревога") + "\"}";
}

// The entry as the double hands it on: its position as "inc_counter" put first.
std::string Delivered(int i) {
  return "{\"inc_counter\":\"" + std::to_string(i) + "\"," + Entry(i).substr(1);
}

// Follows the queue by counters or by dates while events keep arriving.
class EventsEndToEndTest : public ::testing::TestWithParam<bool> {};

TEST_P(EventsEndToEndTest, ConsumerGetsEveryEventOnceInOrderWhileEventsArrive) {
  constexpr int kEvents = 150;
  Bridge bridge;
  bridge.Server().SetPackSize(7);
  for (int i = 0; i < 20; ++i) bridge.Server().AppendEvent(Entry(i));
  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();

  std::atomic<bool> stop{false};
  std::thread producer([&] {
    for (int i = 20; i < kEvents && !stop; ++i) {
      bridge.Server().AppendEvent(Entry(i));
      std::this_thread::sleep_for(15ms);
    }
  });
  EventConsumer consumer;
  consumer.ByDate = GetParam();
  // A poll that confirms a package waits for the next one; it ends when that package is in,
  // not when the wait expires, since the server answers the poll at once.
  int waited_out = 0;
  const auto start = Clock::now();
  while (consumer.Counters.size() < kEvents && SecondsSince(start) < 200) {
    const auto t = Clock::now();
    const int64_t before = consumer.Last;
    if (consumer.Poll(bridge) > 0 && before >= 0 && SecondsSince(t) > 4.5) ++waited_out;
  }
  stop = true;
  producer.join();
  ASSERT_EQ(consumer.Counters.size(), static_cast<size_t>(kEvents))
      << consumer.Polls << " polls, " << consumer.Unanswered << " unanswered";
  EXPECT_EQ(waited_out, 0) << "of " << consumer.Polls << " polls";
  for (int i = 0; i < kEvents; ++i) {
    ASSERT_EQ(consumer.Counters[static_cast<size_t>(i)], i);
    EXPECT_EQ(consumer.Entries[static_cast<size_t>(i)], Delivered(i));
  }
  // Confirming the last one moves the server's position to the end; nothing more is waiting.
  EXPECT_EQ(consumer.Poll(bridge), 0);
  EXPECT_TRUE(WaitFor([&] { return bridge.Server().ReportedPosition() == kEvents; }, 10s))
      << bridge.Server().ReportedPosition();
  EXPECT_EQ(bridge.Server().QueueCount(), kEvents);
  // A consumer that is behind gets nothing again that it has confirmed.
  EXPECT_EQ(bridge.Get("/GetEvents", "{\"inc_counter\":3}").Body, "[]");
}

INSTANTIATE_TEST_SUITE_P(ByCounterAndByDate, EventsEndToEndTest, ::testing::Bool());

}  // namespace
}  // namespace ab::e2e
