#include "web/events_resource.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "fake_context.h"
#include "web/link_signal.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

// Three entries with counters 10..12; the cursor stands at position 10 of 20.
constexpr char kEntries[] =
    "{\"event_date\":100,\"inc_counter\":10,\"text\":\"a\\/b\"},"
    "{\"event_date\":200,\"inc_counter\":11},"
    "{\"event_date\":300,\"inc_counter\":12}";

class EventsTest : public ::testing::Test {
 protected:
  EventsTest() : signal_(ctx_.Time) { Fill(ctx_.Bg, kEntries, 300); }

  static void Fill(TFQueueC& q, const std::string& entries, int32_t date) {
    q.Count = 20;
    q.Position = 10;
    Store(q, entries, date);
  }

  // What the link does with a keep-alive reply carrying a package.
  static void Store(TFQueueC& q, const std::string& entries, int32_t date) {
    q.DateTime = date;
    q.Pack = "{\"name\":\"bg\",\"count\":20,\"datetime\":" + std::to_string(date) +
             ",\"zap\":[" + entries + "],\"inpack\":3}";
    q.PackReady = true;
  }

  HttpAnswer Get(const std::string& body) { return GetEvents(ctx_, signal_, body); }

  // Runs a request that waits, with a stand-in link thread that moves the clock by `after` once
  // the request waits, then delivers the next package (or, with deliver false, nothing).
  HttpAnswer GetWhileLink(const std::string& body, std::chrono::milliseconds after,
                          bool deliver) {
    std::thread link([&] {
      while (signal_.Waiters() == 0) std::this_thread::yield();
      ctx_.Time.Advance(after);
      if (deliver) {
        ControllerLock hold(ctx_);
        EXPECT_FALSE(ctx_.Bg.PackReady);
        Store(ctx_.Bg, "{\"event_date\":400,\"inc_counter\":13}", 400);
      }
      signal_.Notify();
    });
    HttpAnswer a = Get(body);
    link.join();
    return a;
  }

  test::FakeContext ctx_;
  LinkSignal signal_;
};

TEST_F(EventsTest, WithoutKeysSendsTheWaitingPackageOnly) {
  for (const char* body : {"", "{}", "not json"}) {
    HttpAnswer a = Get(body);
    EXPECT_EQ(a.Body, std::string("[") + kEntries + "]") << body;
    EXPECT_EQ(a.ContentType, "text/json");
    EXPECT_EQ(a.ContentEncoding, "UTF-8");
  }
  EXPECT_EQ(ctx_.Polls, 0);
  EXPECT_EQ(ctx_.Bg.Position, 10);
  ctx_.Bg.PackReady = false;
  EXPECT_EQ(Get("{}").Body, "[]");
  // The body is logged as a line of its own, an empty one not at all.
  EXPECT_EQ(ctx_.Log(), (std::vector<std::string>{"{}", "not json", "{}"}));
  EXPECT_FALSE(ctx_.DailyLogWithoutLock);
}

TEST_F(EventsTest, CounterBehindPositionResendsWithoutAcknowledging) {
  // Both keys: the date wins, and a date older than the cursor's resends too.
  for (const char* body : {"{\"inc_counter\":9}", "{\"inc_counter\":\"9\"}",
                           "{\"events_date\":299,\"inc_counter\":12}"}) {
    EXPECT_EQ(Get(body).Body, std::string("[") + kEntries + "]") << body;
  }
  EXPECT_TRUE(ctx_.Bg.PackReady);
  EXPECT_EQ(ctx_.Bg.Position, 10);
  EXPECT_EQ(ctx_.Polls, 0);
}

TEST_F(EventsTest, AcknowledgedPackageIsFollowedByTheNextWithinTheWait) {
  HttpAnswer a = GetWhileLink("{\"inc_counter\":12}", 2000ms, true);
  EXPECT_EQ(a.Body, "[{\"event_date\":400,\"inc_counter\":13}]");
  EXPECT_EQ(ctx_.Bg.Position, 13);
  EXPECT_EQ(ctx_.Polls, 1);
}

TEST_F(EventsTest, PackageLaterThanFiveSecondsGoesToTheNextRequest) {
  HttpAnswer a = GetWhileLink("{\"inc_counter\":12}", 5001ms, false);
  EXPECT_EQ(a.Body, "[]");
  EXPECT_EQ(ctx_.Bg.Position, 13);
  Store(ctx_.Bg, "{\"event_date\":400,\"inc_counter\":13}", 400);
  EXPECT_EQ(Get("{\"inc_counter\":12}").Body, "[{\"event_date\":400,\"inc_counter\":13}]");
}

TEST_F(EventsTest, PositionAtCountAfterAcknowledgingAnswersAtOnce) {
  ctx_.Bg.Count = 13;
  // No waiter thread: a wait here would hang the test.
  EXPECT_EQ(Get("{\"inc_counter\":12}").Body, "[]");
  EXPECT_EQ(ctx_.Bg.Position, 13);
  EXPECT_FALSE(ctx_.Bg.PackReady);
  EXPECT_EQ(ctx_.Polls, 1);
  // A counter beyond Count stops at Count.
  Fill(ctx_.Bg, kEntries, 300);
  ctx_.Bg.Count = 13;
  EXPECT_EQ(Get("{\"inc_counter\":50}").Body, "[]");
  EXPECT_EQ(ctx_.Bg.Position, 13);
}

TEST_F(EventsTest, WithoutWaitingPackageOnlyPollsAndWaits) {
  ctx_.Bg.PackReady = false;
  ctx_.Bg.Pack.clear();
  HttpAnswer a = GetWhileLink("{\"inc_counter\":12}", 100ms, true);
  EXPECT_EQ(a.Body, "[{\"event_date\":400,\"inc_counter\":13}]");
  // Nothing was acknowledged: the position stays.
  EXPECT_EQ(ctx_.Bg.Position, 10);
}

TEST_F(EventsTest, EventsDatePicksTheLastEntryAtOrBeforeIt) {
  struct Case {
    const char* date;
    int32_t position;
  } cases[] = {
      {"300", 13},  // newer than every entry
      {"200", 12},  // entries 10 and 11 qualify; the last one wins
      {"-1", 13},   // negative: unsigned, so larger than every date
  };
  for (const auto& c : cases) {
    Fill(ctx_.Bg, kEntries, 200);
    std::string body = std::string("{\"events_date\":") + c.date + "}";
    EXPECT_EQ(GetWhileLink(body, 5001ms, false).Body, "[]") << c.date;
    EXPECT_EQ(ctx_.Bg.Position, c.position) << c.date;
  }
}

TEST_F(EventsTest, EventsDateSkipsZeroCountersAndKeepsPositionWithoutMatch) {
  Fill(ctx_.Bg, "{\"event_date\":50,\"inc_counter\":0},{\"event_date\":60}", 60);
  ctx_.Bg.Count = 10;
  // No usable counter: last stays Position, so Acknowledge moves it to Position + 1 (at most
  // Count) and releases the package.
  EXPECT_EQ(Get("{\"events_date\":70}").Body, "[]");
  EXPECT_EQ(ctx_.Bg.Position, 10);
  EXPECT_FALSE(ctx_.Bg.PackReady);
}

TEST_F(EventsTest, NonIntegerEventsDateFailsWithoutTouchingTheCursor) {
  for (const char* body : {"{\"events_date\":\"abc\"}", "{\"events_date\":1.5}",
                           "{\"events_date\":99999999999}"}) {
    EXPECT_THROW(Get(body), std::invalid_argument) << body;
  }
  EXPECT_TRUE(ctx_.Bg.PackReady);
  EXPECT_EQ(ctx_.Bg.Position, 10);
  EXPECT_EQ(ctx_.Polls, 0);
  // A non-numeric counter counts as 0, which is behind the position.
  EXPECT_EQ(Get("{\"inc_counter\":\"x\"}").Body, std::string("[") + kEntries + "]");
}

TEST_F(EventsTest, ControllerLockIsFreeWhileWaiting) {
  std::thread link([&] {
    while (signal_.Waiters() == 0) std::this_thread::yield();
    // Would deadlock if the handler held the Lock across the wait.
    ControllerLock hold(ctx_);
    Store(ctx_.Bg, "{\"inc_counter\":13}", 400);
    signal_.Notify();
  });
  EXPECT_EQ(Get("{\"inc_counter\":12}").Body, "[{\"inc_counter\":13}]");
  link.join();
}

TEST_F(EventsTest, CancelEndsTheWaitAtOnce) {
  std::thread stopper([&] {
    while (signal_.Waiters() == 0) std::this_thread::yield();
    signal_.Cancel();
  });
  EXPECT_EQ(Get("{\"inc_counter\":12}").Body, "[]");
  stopper.join();
}

}  // namespace
}  // namespace ab
