// alarm-bridge --headless started as a process in a fresh folder, against the message-server
// double on loopback: it registers, loads the four tables in their registration order, prints
// their status lines in UTF-8, serves HTTP only once loaded, and on SIGTERM says goodbye to
// the server and exits 0.

#include <gtest/gtest.h>
#include <signal.h>

#include "e2e_fixture.h"
#include "util/json.h"

namespace ab::e2e {
namespace {

TEST(HeadlessBinaryTest, RegistersLoadsTablesInOrderThenServesAndSaysGoodbyeOnSigterm) {
  Bridge bridge;
  // Not registered yet: the double says nothing, so the HTTP port stays shut.
  bridge.Server().Silent = true;
  bridge.Launch();
  ASSERT_TRUE(bridge.Proc().Started());
  const auto start = Clock::now();
  while (SecondsSince(start) < 2.0) {
    ASSERT_TRUE(bridge.HttpRefused()) << "HTTP answered before registration";
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(Occurrences(bridge.Proc().Text(), "Соединение установлено"), 0u);

  bridge.Server().Silent = false;
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();
  // Without a PUD key the registration carries the default password.
  const auto regs = bridge.Received("reg");
  ASSERT_FALSE(regs.empty());
  EXPECT_EQ(regs.back().rfind("{\"$c$\":\"reg\",\"id\":\"", 0), 0u) << regs.back();
  EXPECT_NE(regs.back().find("\",\"username\":\"alarm-bridge\",\"password\":\"5172904\","
                             "\"keepalive\":1,\"zip\":0,\"ver\":\""),
            std::string::npos)
      << regs.back();
  const std::string& out = bridge.Proc().Text();
  const std::string loaded = "Загружена таблица";
  const size_t connected = out.find("Соединение установлено");
  const size_t a = out.find(loaded + " mesmaps");
  const size_t b = out.find(loaded + " otvl ");
  const size_t c = out.find(loaded + " otvls");
  const size_t d = out.find(loaded + " object");
  EXPECT_TRUE(connected < a && a < b && b < c && c < d && d != std::string::npos) << out;
  // Each line carries the size and the row count of the table.
  EXPECT_NE(out.find(loaded + " object Размер-"), std::string::npos) << out;
  EXPECT_NE(out.find("Кол. записей-4"), std::string::npos) << out;
  // The load requests went out one table at a time, in registration order.
  std::vector<std::string> requested;
  for (const auto& m : bridge.Received("database")) requested.push_back(JsonGetValue(m, "name"));
  EXPECT_EQ(requested, (std::vector<std::string>{"mesmaps", "otvl", "otvls", "object"}));

  EXPECT_EQ(bridge.Proc().Stop(SIGTERM, 20s), 0);
  EXPECT_TRUE(WaitFor([&] { return bridge.Server().CountOf("closeclient") >= 1; }, 5s));
  EXPECT_TRUE(bridge.HttpRefused());
}

// Open requests end with the HTTP server: a picture wait of 10 s does not hold up the exit.
TEST(HeadlessBinaryTest, SigtermEndsAWaitingRequestAndExitsPromptly) {
  Bridge bridge;  // plan2.bmp is never served
  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();
  HttpReply waiting;
  std::thread client([&] { waiting = bridge.Get("/GetPicture&n=402", "", 60s); });
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const auto& m : bridge.Received("getfile"))
          if (m.find("plan2.bmp") != std::string::npos) return true;
        return false;
      },
      10s, 5ms));
  const auto stop_at = Clock::now();
  const int rc = bridge.Proc().Stop(SIGTERM, 30s);
  const double took = SecondsSince(stop_at);
  client.join();
  EXPECT_EQ(rc, 0);
  EXPECT_LT(took, 8.0) << "the exit waited for the picture request";
  EXPECT_NE(waiting.Body, "Error") << "the request ran its full wait";
}

}  // namespace
}  // namespace ab::e2e
