// Messages left in dd8/ by another program before the driver starts: delivered to the double
// in order and removed from the store once acknowledged; a driver killed with a message in
// flight sends it again after the restart.

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <iostream>

#include "e2e_fixture.h"
#include "support/outbox_files.h"
#include "util/json.h"

namespace ab::e2e {
namespace {

namespace fs = std::filesystem;

// Two messages in two data files; the second spans several datagrams.
struct Store {
  std::string First = "{\"$c$\":\"backmsg\",\"i\":\"1\"}";
  std::string Second =
      "{\"$c$\":\"backmsg\",\"i\":\"2\",\"pad\":\"" + std::string(3000, 'p') + "\"}";
  void Place(const fs::path& dir) const {
    test::WriteFileText(dir / "dd8" / "backsoob.dat", test::OutboxIndex(2, 0, 1));
    test::WriteFileText(dir / "dd8" / "bs0.dat", test::OutboxRecord(First));
    test::WriteFileText(dir / "dd8" / "bs1.dat", test::OutboxRecord(Second));
  }
};

std::vector<std::string> Ids(Bridge& bridge) {
  std::vector<std::string> out;
  for (const auto& m : bridge.Received("backmsg")) out.push_back(JsonGetValue(m, "i"));
  return out;
}

TEST(OutboxEndToEndTest, DeliversStoredMessagesOnceInOrderAndEmptiesTheStore) {
  Bridge bridge;
  const Store store;
  store.Place(bridge.Dir());
  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();

  const fs::path dd8 = bridge.Dir() / "dd8";
  ASSERT_TRUE(WaitFor(
      [&] { return test::ReadFileText(dd8 / "backsoob.dat") == test::OutboxIndex(0, 1, 1); }, 20s))
      << test::ReadFileText(dd8 / "backsoob.dat").size();
  EXPECT_FALSE(fs::exists(dd8 / "bs0.dat"));
  EXPECT_EQ(test::ReadFileText(dd8 / "bs1.dat"), "");
  std::this_thread::sleep_for(1500ms);  // room for a duplicate
  EXPECT_EQ(bridge.Received("backmsg"), (std::vector<std::string>{store.First, store.Second}));
}

TEST(OutboxEndToEndTest, MessageInFlightWhenKilledIsSentAgainAfterRestart) {
  Bridge bridge;
  const Store store;
  store.Place(bridge.Dir());
  bridge.Launch();
  ASSERT_TRUE(bridge.Proc().Started());
  // Kill the moment the first message has arrived: its acknowledgement and the removal that
  // follows it are then most likely still ahead.
  ASSERT_TRUE(WaitFor([&] { return !bridge.Received("backmsg").empty(); }, 60s, 1ms));
  EXPECT_EQ(bridge.Proc().Stop(SIGKILL, 10s), 128 + SIGKILL);
  const fs::path dd8 = bridge.Dir() / "dd8";
  const std::string index_at_kill = test::ReadFileText(dd8 / "backsoob.dat");
  const bool first_still_stored = index_at_kill == test::OutboxIndex(2, 0, 1);
  const std::vector<std::string> before = Ids(bridge);
  std::cout << "at the kill: delivered " << before.size() << ", first message "
            << (first_still_stored ? "still stored" : "already removed") << "\n";

  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();
  ASSERT_TRUE(WaitFor(
      [&] { return test::ReadFileText(dd8 / "backsoob.dat") == test::OutboxIndex(0, 1, 1); }, 20s));
  std::this_thread::sleep_for(1500ms);
  const std::vector<std::string> ids = Ids(bridge);
  std::cout << "after the restart: delivered";
  for (const auto& i : ids) std::cout << " " << i;
  std::cout << "\n";
  // At least once each, in store order; what was still stored at the kill comes again.
  ASSERT_FALSE(ids.empty());
  EXPECT_EQ(ids.front(), "1");
  EXPECT_EQ(ids.back(), "2");
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  if (first_still_stored) {
    EXPECT_GE(std::count(ids.begin(), ids.end(), "1"), 2);
  }
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "2"), 1);
}

}  // namespace
}  // namespace ab::e2e
