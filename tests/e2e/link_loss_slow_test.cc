// Losing the message server: the driver notices the silence, shuts its HTTP port, registers
// again once the server is back, reloads the tables and serves again. And while a table never
// arrives the port stays shut until the stalled load is given up and started over.

#include <gtest/gtest.h>

#include <iostream>

#include "e2e_fixture.h"

namespace ab::e2e {
namespace {

const std::string kLost = "Потеря соединения";

// What the double received, for failure messages.
std::string Conversation(Bridge& bridge) {
  std::string out = "\nthe double received:\n";
  for (const auto& m : bridge.Server().Messages()) out += m.Text.substr(0, 160) + "\n";
  return out;
}

TEST(LinkLossSlowEndToEndTest, SilentServerStopsHttpUntilReregisteredAndReloaded) {
  Bridge bridge;
  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();
  const int registrations = bridge.Server().CountOf("reg");

  bridge.Server().Silent = true;
  const auto silent_from = Clock::now();
  ASSERT_TRUE(bridge.Proc().ReadUntil(
      [&](const std::string& t) { return t.find(kLost) != std::string::npos; }, 60s))
      << bridge.Proc().Text();
  // At the latest after ten seconds without a sign of life; sooner when a message in flight
  // runs out of resends first.
  const double noticed = SecondsSince(silent_from);
  EXPECT_LT(noticed, 25.0);
  // The status line carries no code; the diagnostic log does. The info report is always in
  // flight, and on loopback its chunk runs out of its 20 sends (code 2) well before ten
  // seconds of silence (code 1) are up.
  std::vector<int> codes;
  EXPECT_TRUE(WaitFor([&] { return !(codes = bridge.DisconnectionCodes()).empty(); }, 10s));
  for (int c : codes) EXPECT_TRUE(c == 1 || c == 2) << c;
  std::cout << "loss reported " << noticed << " s after the server fell silent, code "
            << (codes.empty() ? -1 : codes.front()) << "\n";
  const size_t lost_at = bridge.Proc().Text().find(kLost);
  EXPECT_TRUE(WaitFor([&] { return bridge.HttpRefused(); }, 5s, 50ms));
  // It keeps trying while the server stays silent, and the port stays shut.
  std::this_thread::sleep_for(5s);
  EXPECT_TRUE(bridge.HttpRefused());

  bridge.Server().Silent = false;
  ASSERT_TRUE(bridge.WaitReady(60s, lost_at)) << bridge.Proc().Text();
  EXPECT_GT(bridge.Server().CountOf("reg"), registrations);
  EXPECT_EQ(bridge.Server().CountOf("database"), 8);
  EXPECT_EQ(bridge.Get("/GetObjects").Body,
            ExpectedObjects(bridge.Data(), bridge.PublicAddress()));
}

TEST(LinkLossSlowEndToEndTest, HttpStaysShutWhileATableIsMissingThenRecovers) {
  Bridge bridge;
  std::vector<TableData> three = BuildTables(bridge.Data());
  three.pop_back();  // "object" is requested last and never answered
  bridge.Server().SetTables(three, true);
  bridge.Launch();
  ASSERT_TRUE(bridge.Proc().ReadUntil(
      [](const std::string& t) {
        return Occurrences(t, "Соединение установлено") == 1 &&
               Occurrences(t, "Загружена таблица") == 3;
      },
      60s))
      << bridge.Proc().Text();
  ASSERT_TRUE(WaitFor([&] { return bridge.Server().CountOf("database") == 4; }, 10s));
  const auto start = Clock::now();
  while (SecondsSince(start) < 3.0) {
    ASSERT_TRUE(bridge.HttpRefused()) << "HTTP answered with a table missing";
    std::this_thread::sleep_for(100ms);
  }

  // With the table available again, the stalled load is abandoned and the cycle restarts.
  bridge.Server().SetTables(BuildTables(bridge.Data()), true);
  ASSERT_TRUE(bridge.Proc().ReadUntil(
      [](const std::string& t) { return t.find(kLost) != std::string::npos; }, 60s))
      << bridge.Proc().Text();
  EXPECT_GE(SecondsSince(start), 20.0);  // 30 s without file data, counted from the last file
  EXPECT_TRUE(WaitFor([&] { return bridge.DisconnectionCodes() == std::vector<int>{7}; }, 10s))
      << bridge.DiagnosticLog();
  ASSERT_TRUE(bridge.WaitReady(60s, bridge.Proc().Text().find(kLost)))
      << bridge.Proc().Text() << Conversation(bridge);
  EXPECT_EQ(bridge.Get("/GetObjects").Body,
            ExpectedObjects(bridge.Data(), bridge.PublicAddress()));
}

}  // namespace
}  // namespace ab::e2e
