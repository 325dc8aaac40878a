// The info report of the running driver as the double receives it: once a second after the
// tables are loaded, with the configured switches, and the online figures following requests.

#include <gtest/gtest.h>

#include "e2e_fixture.h"
#include "util/json.h"

namespace ab::e2e {
namespace {

std::string Report(int bg, int bg_online, int mes, int mes_online) {
  return "{\"$c$\":\"info\",\"data\":[{\"bg\":" + std::to_string(bg) +
         ",\"online\":" + std::to_string(bg_online) + "},{\"mes\":" + std::to_string(mes) +
         ",\"online\":" + std::to_string(mes_online) + "}]}";
}

TEST(InfoReportEndToEndTest, EverySecondAfterLoadingWithSwitchesAndOnlineFigures) {
  BridgeConfig config;
  config.BgOn = 0;
  config.MesOn = 1;
  Bridge bridge(SampleData(), config);
  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();

  // Count over a measured window; the machine is shared, so the bounds are loose.
  const auto window_start = Clock::now();
  const size_t before = bridge.Received("info").size();
  std::this_thread::sleep_for(6s);
  const size_t during = bridge.Received("info").size() - before;
  const double seconds = SecondsSince(window_start);
  EXPECT_GE(static_cast<double>(during), seconds - 3.0);
  EXPECT_LE(static_cast<double>(during), seconds + 2.0);

  // No request yet: both consumers offline.
  auto reports = bridge.Received("info");
  ASSERT_FALSE(reports.empty());
  for (const auto& r : reports) EXPECT_EQ(r, Report(0, 0, 1, 0));

  // Nothing is reported before the last table was requested.
  const auto messages = bridge.Server().Messages();
  size_t last_load = 0, first_info = messages.size();
  for (size_t i = 0; i < messages.size(); ++i) {
    const std::string c = JsonGetValue(messages[i].Text, "$c$");
    if (c == "database") last_load = i;
    if (c == "info" && first_info == messages.size()) first_info = i;
  }
  EXPECT_LT(last_load, first_info);

  // One request of each consumer turns both online figures on within a few reports.
  ASSERT_TRUE(bridge.Get("/GetObjects").Answered);
  ASSERT_TRUE(bridge.Spi("<ns:GetObjectsReq/>", config.UserName, config.Password).Answered);
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto now = bridge.Received("info");
        return !now.empty() && now.back() == Report(0, 1, 1, 1);
      },
      10s, 50ms))
      << bridge.Received("info").back();
}

}  // namespace
}  // namespace ab::e2e
