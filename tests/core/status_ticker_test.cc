#include "core/status_ticker.h"

#include <gtest/gtest.h>

#include "core/texts.h"
#include "core_test_support.h"

namespace ab {
namespace {

using namespace std::chrono_literals;
using test::W;

class StatusTickerTest : public ::testing::Test {
 protected:
  StatusTickerTest() : clock(test::March5At140709()), display(clock) { test::UseUtc(); }

  StatusTicker MakeTicker(bool bg_on = true, bool mes_on = true) {
    return StatusTicker(link, http, display, counters, lock, cursor, clock, bg_on, mes_on);
  }

  void Working() {
    link.registered = true;
    link.tables_ready = true;
  }

  std::string PopOut() {
    std::string s;
    link.out.Pop(s);
    return s;
  }

  ManualClock clock;
  StatusDisplay display;
  test::FakeLink link;
  test::FakeHttp http;
  WebCounters counters;
  std::mutex lock;
  TFQueueC cursor;
};

TEST_F(StatusTickerTest, NoticesBecomeMemoLinesWithTheTimeTwice) {
  struct Case {
    const char* notice;
    std::string expected;  // after "<time> <time>"
  };
  const Case cases[] = {
      {R"({"$c$":"connected"})", W(" Соединение установлено")},
      {R"({"$c$":"disconnected","code":1})", W(" Потеря соединения")},
      {R"({"$c$":"accessdenied"})", W(" Доступ запрещен")},
      {R"({"$c$":"getfileok","name":"a.jpg"})", W(" Получен файл a.jpg")},
      {R"({"$c$":"tableload","name":"object","size":1234,"count":17})",
       W(" Загружена таблица object Размер-1234 Кол. записей-17")},
      {R"({"$c$":"tableload","name":"otvl","count":3})",
       W(" Загружена таблица otvl Размер- Кол. записей-3")},
  };
  auto ticker = MakeTicker();
  for (const auto& c : cases) {
    ASSERT_TRUE(link.events.Push(c.notice));
    ticker.Timer2Timer();
    ASSERT_FALSE(display.Memo().empty()) << c.notice;
    EXPECT_EQ(display.Memo().back(), "05.03.2024 14:07:09 05.03.2024 14:07:09" + c.expected)
        << c.notice;
  }
  EXPECT_EQ(display.Memo().size(), std::size(cases));
}

TEST_F(StatusTickerTest, OtherNoticesAreDroppedSilentlyAndOnePerTick) {
  auto ticker = MakeTicker();
  ASSERT_TRUE(link.events.Push(R"({"$c$":"tosoob","data":"x"})"));
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(link.events.Push(R"({"$c$":"connected"})"));
  ticker.Timer2Timer();
  EXPECT_TRUE(display.Memo().empty());
  for (int i = 1; i <= 10; ++i) {
    ticker.Timer2Timer();
    EXPECT_EQ(display.Memo().size(), static_cast<size_t>(i));
  }
  EXPECT_FALSE(link.events.NotEmpty());
}

TEST_F(StatusTickerTest, HttpServerFollowsTheLinkState) {
  auto ticker = MakeTicker();
  ticker.Timer2Timer();
  EXPECT_EQ(display.Label4.Text, W("Соединение..."));
  EXPECT_EQ(display.Label4.Colour, LabelColour::Red);
  EXPECT_EQ(http.starts, 0);

  link.registered = true;
  link.load_percent = 42;
  ticker.Timer2Timer();
  EXPECT_EQ(display.Label4.Text, W("Загрузка данных - 42%"));
  EXPECT_EQ(display.Label4.Colour, LabelColour::Blue);
  EXPECT_EQ(http.starts, 0);

  link.tables_ready = true;
  ticker.Timer2Timer();
  EXPECT_EQ(display.Label4.Text, W("Работа"));
  EXPECT_EQ(display.Label4.Colour, LabelColour::Green);
  EXPECT_TRUE(http.running);
  EXPECT_EQ(display.Label5.Colour, LabelColour::Green);
  ticker.Timer2Timer();
  EXPECT_EQ(http.starts, 1);

  // Loading again (tables being reloaded) keeps the server as it is.
  link.tables_ready = false;
  ticker.Timer2Timer();
  EXPECT_TRUE(http.running);

  link.registered = false;
  ticker.Timer2Timer();
  EXPECT_FALSE(http.running);
  EXPECT_EQ(http.stops, 1);
  EXPECT_EQ(display.Label4.Text, W("Соединение..."));
}

TEST_F(StatusTickerTest, FailedStartTurnsCaptionsRedAndIsRetriedEveryTick) {
  auto ticker = MakeTicker();
  Working();
  http.fail_start = true;
  ticker.Timer2Timer();
  ticker.Timer2Timer();
  EXPECT_EQ(http.starts, 2);
  EXPECT_EQ(display.Label5.Colour, LabelColour::Red);
  EXPECT_EQ(display.Label11.Colour, LabelColour::Red);
  http.fail_start = false;
  ticker.Timer2Timer();
  EXPECT_TRUE(http.running);
  EXPECT_EQ(display.Label11.Colour, LabelColour::Green);
}

TEST_F(StatusTickerTest, RatesAndCounts) {
  auto ticker = MakeTicker();
  Working();
  link.in_bps = 1'500'000;
  link.out_bps = 25'000;
  ticker.Timer2Timer();
  // No data datagrams yet: a zero repeat share rather than a division by zero.
  EXPECT_EQ(display.Label10.Text, W("Вх.-1.5000 Мб/с Исх.-0.0250 Мб/с Повт.-0.0000%"));
  link.duplicates = 1;
  link.datagrams = 8;
  counters.BgRequests = 7;
  counters.MesRequests = 3;
  cursor.Count = 10;
  cursor.Position = 4;
  ticker.Timer2Timer();
  EXPECT_EQ(display.Label10.Text, W("Вх.-1.5000 Мб/с Исх.-0.0250 Мб/с Повт.-12.5000%"));
  EXPECT_EQ(display.Label6.Text, "7");
  EXPECT_EQ(display.Label12.Text, "3");
  EXPECT_EQ(display.Label1.Text, "6");
  EXPECT_EQ(display.Label8.Text, "");
  counters.MesLastRequestWall =
      std::chrono::nanoseconds(clock.WallNow().time_since_epoch()).count();
  ticker.Timer2Timer();
  EXPECT_EQ(display.Label14.Text, "05.03.2024 14:07:09");
  EXPECT_EQ(display.Label8.Text, "");
  // While the link is down the rates keep their last text.
  link.registered = false;
  link.in_bps = 0;
  ticker.Timer2Timer();
  EXPECT_EQ(display.Label10.Text, W("Вх.-1.5000 Мб/с Исх.-0.0250 Мб/с Повт.-12.5000%"));
}

TEST_F(StatusTickerTest, InfoReportOnlyWhileWorkingWithFlags) {
  auto ticker = MakeTicker(/*bg_on=*/false, /*mes_on=*/true);
  ticker.Timer3Timer();
  EXPECT_FALSE(link.out.NotEmpty());
  Working();
  ticker.Timer3Timer();
  EXPECT_EQ(PopOut(), R"({"$c$":"info","data":[{"bg":0,"online":0},{"mes":1,"online":0}]})");
}

TEST_F(StatusTickerTest, MesOnlineFollowsRequestsOneTickLate) {
  auto ticker = MakeTicker();
  Working();
  counters.MesLastRequestTicks = TickCount(clock);
  ticker.Timer3Timer();  // carries the figure of the previous tick: 0
  EXPECT_EQ(PopOut(), R"({"$c$":"info","data":[{"bg":1,"online":0},{"mes":1,"online":0}]})");
  // A request every 5 s keeps it at 1.
  for (int i = 0; i < 4; ++i) {
    clock.Advance(5s);
    counters.MesLastRequestTicks = TickCount(clock);
    ticker.Timer3Timer();
    EXPECT_EQ(PopOut(), R"({"$c$":"info","data":[{"bg":1,"online":0},{"mes":1,"online":1}]})");
  }
  clock.Advance(9999ms);
  ticker.Timer3Timer();
  EXPECT_TRUE(ticker.MesOnline());
  clock.Advance(2ms);
  ticker.Timer3Timer();  // computed 0 now, reported on the next one
  EXPECT_FALSE(ticker.MesOnline());
  PopOut();
  EXPECT_EQ(PopOut(), R"({"$c$":"info","data":[{"bg":1,"online":0},{"mes":1,"online":1}]})");
  ticker.Timer3Timer();
  EXPECT_EQ(PopOut(), R"({"$c$":"info","data":[{"bg":1,"online":0},{"mes":1,"online":0}]})");
}

TEST_F(StatusTickerTest, SafeCityRequestsDriveTheBgOnlineFigure) {
  auto ticker = MakeTicker();
  Working();
  counters.BgLastRequestTicks = TickCount(clock);
  ticker.Timer3Timer();
  PopOut();
  ticker.Timer3Timer();
  EXPECT_EQ(PopOut(), R"({"$c$":"info","data":[{"bg":1,"online":1},{"mes":1,"online":0}]})");
}

TEST_F(StatusTickerTest, IconInputsComeFromTheLink) {
  auto ticker = MakeTicker();
  link.registered = true;
  link.activity = 5;
  ticker.Timer2Timer();
  EXPECT_TRUE(display.IconConnected);
  EXPECT_FALSE(display.IconAccessDenied);
  EXPECT_EQ(display.IconPhase, 5);
}

}  // namespace
}  // namespace ab
