// /GetEvents of the running driver following the double's event queue "bg" by counters or by
// dates while events keep arriving: every entry exactly once, in order, passed through as the server sent
// it, and the position the driver reports to the server follows the consumer.

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
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
  while (consumer.Last < kEvents - 1 && SecondsSince(start) < 200) {
    const auto t = Clock::now();
    const int64_t before = consumer.Last;
    if (consumer.Poll(bridge) > 0 && before >= 0 && SecondsSince(t) > 4.5) ++waited_out;
  }
  stop = true;
  producer.join();
  EXPECT_EQ(waited_out, 0) << "of " << consumer.Polls << " polls";
  std::string answers;
  for (const auto& a : consumer.Answers) answers += a + "\n";
  // By counters every entry comes exactly once. By dates a package can come twice: when two
  // keep-alive answers cross, the link may replace the package it handed out by a longer one
  // of the same start, whose newer date then reads as "not yet received". Nothing may be
  // lost or reordered either way.
  std::vector<int64_t> distinct;
  size_t repeats = 0;
  for (int64_t c : consumer.Counters) {
    if (!distinct.empty() && c <= distinct.back()) {
      ++repeats;
      continue;
    }
    distinct.push_back(c);
  }
  if (!GetParam()) {
    EXPECT_EQ(repeats, 0u) << answers;
  }
  if (repeats > 0) std::cout << repeats << " entries came twice\n";
  ASSERT_EQ(distinct.size(), static_cast<size_t>(kEvents))
      << consumer.Polls << " polls, " << consumer.Unanswered << " unanswered\n" << answers;
  for (int i = 0; i < kEvents; ++i) ASSERT_EQ(distinct[static_cast<size_t>(i)], i) << answers;
  for (size_t i = 0; i < consumer.Counters.size(); ++i) {
    const int64_t c = consumer.Counters[i];
    EXPECT_EQ(consumer.Entries[i], Delivered(static_cast<int>(c)));
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
