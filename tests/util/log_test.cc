#include "util/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace ab {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A wall time given as local calendar time, as the writer reads it back with localtime_r.
Clock::WallTime Local(int y, int mo, int d, int h = 12, int mi = 0, int s = 0) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  t.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void Touch(const fs::path& p, const std::string& content = "x") {
  std::ofstream(p, std::ios::binary) << content;
}

class TLogTest : public ::testing::Test {
 protected:
  TLogTest() : clock_(Local(2024, 5, 10, 14, 7, 9)), log_(dir_.path(), clock_, false) {
    log_.Prefix = "udpc";
    log_.Enabled = true;
  }
  fs::path Logs() const { return dir_.path() / "logs"; }
  fs::path Day(const std::string& yyyymmdd) const { return Logs() / ("udpc_" + yyyymmdd + ".log"); }

  test::TempDir dir_;
  ManualClock clock_;
  TLog log_;
};

TEST_F(TLogTest, AppendsStampedLinesToTheDayFile) {
  ASSERT_TRUE(fs::is_directory(Logs()));
  Touch(Day("20240510"), "earlier\r\n");
  ASSERT_TRUE(log_.Queue.Push("first"));
  ASSERT_TRUE(log_.Queue.Push("\xC0\xFF \xE0"));  // 8-bit text goes out unchanged
  log_.Pass();
  EXPECT_EQ(ReadFile(Day("20240510")),
            "earlier\r\n14:07:09 - first\r\n14:07:09 - \xC0\xFF \xE0\r\n");
  EXPECT_FALSE(log_.Queue.NotEmpty());

  clock_.Advance(1s);
  ASSERT_TRUE(log_.Queue.Push("second"));
  log_.Pass();
  EXPECT_EQ(ReadFile(Day("20240510")),
            "earlier\r\n14:07:09 - first\r\n14:07:09 - \xC0\xFF \xE0\r\n14:07:10 - second\r\n");
}

TEST_F(TLogTest, LinesQueuedBeforeMidnightGoToTheNewDay) {
  clock_.SetWall(Local(2024, 5, 10, 23, 59, 59) + 900ms);
  ASSERT_TRUE(log_.Queue.Push("late"));
  clock_.Advance(200ms);
  log_.Pass();
  EXPECT_EQ(ReadFile(Day("20240511")), "00:00:00 - late\r\n");
  EXPECT_FALSE(fs::exists(Day("20240510")));
}

TEST_F(TLogTest, DisabledDiscardsLinesWithoutCreatingAFile) {
  log_.Enabled = false;
  ASSERT_TRUE(log_.Queue.Push("a"));
  ASSERT_TRUE(log_.Queue.Push("b"));
  log_.Pass();
  EXPECT_FALSE(log_.Queue.NotEmpty());
  EXPECT_TRUE(fs::is_empty(Logs()));
  log_.Enabled = true;
  log_.Pass();
  EXPECT_TRUE(fs::is_empty(Logs()));
}

TEST_F(TLogTest, LinesWaitWhileTheFileCannotBeOpened) {
  fs::create_directory(Day("20240510"));  // a folder where the day's file belongs
  ASSERT_TRUE(log_.Queue.Push("kept"));
  log_.Pass();
  EXPECT_EQ(log_.Queue.Size(), 1);
  fs::remove(Day("20240510"));
  log_.Pass();
  EXPECT_EQ(ReadFile(Day("20240510")), "14:07:09 - kept\r\n");
}

TEST_F(TLogTest, RetentionKeepsTodayAndTheTwoDaysBefore) {
  struct Entry {
    const char* name;
    bool kept;
  };
  const Entry entries[] = {
      {"udpc_20240510.log", true},      {"udpc_20240509.log", true},
      {"udpc_20240508.log", true},      {"udpc_20240507.log", false},
      {"udpc_20240507.old.log", false},  // the date ends at the first dot
      {"udpc_2024.log", false},          // month and day default to 1: 1 January 2024
      {"udpc_2025.log", true},           // 1 January 2025
      {"udpc_abcdefgh.log", false},      // not a number: 1 January 2020
      {"udpc_20191231.log", false},      // before 2020
      {"udpc_20241332.log", false},      // no such date
      {"udpc_20240230.log", false},      // no such date
      {"udpc_20240510", false},          // no dot: empty date part
      {"udpc_20990101.log", true},      {"other_20200101.log", true},
      {"xudpc_20200101.log", true},  // another prefix that merely contains ours
      {"udpc20200101.log", true},
  };
  for (const Entry& e : entries) Touch(Logs() / e.name);
  log_.Pass();
  for (const Entry& e : entries) EXPECT_EQ(fs::exists(Logs() / e.name), e.kept) << e.name;
}

TEST_F(TLogTest, RetentionOffWithKeepDaysZero) {
  log_.KeepDays = 0;
  Touch(Day("20200101"));
  log_.Pass();
  EXPECT_TRUE(fs::exists(Day("20200101")));
}

TEST_F(TLogTest, CleanUpRunsOncePerCalendarDay) {
  clock_.SetWall(Local(2024, 5, 10, 23, 50));
  log_.Pass();
  Touch(Day("20240507"));
  Touch(Day("20240508"));
  Touch(Day("20240509"));
  clock_.Advance(5min);
  log_.Pass();  // same day: no second clean-up
  EXPECT_TRUE(fs::exists(Day("20240507")));
  clock_.Advance(15min);  // 11 May 00:05, far less than 24 hours later
  log_.Pass();
  EXPECT_FALSE(fs::exists(Day("20240507")));
  EXPECT_FALSE(fs::exists(Day("20240508")));
  EXPECT_TRUE(fs::exists(Day("20240509")));
}

// The writer may run its first pass before the owner has named it; cleaning then would match
// every name with "_" and use up the day's clean-up.
TEST(TLogStartTest, CleanUpWaitsUntilTheOwnerHasEnabledTheWriter) {
  test::TempDir dir;
  ManualClock clock(Local(2024, 5, 10));
  TLog log(dir.path(), clock, false);
  Touch(dir.path() / "logs" / "_20200101.log");
  Touch(dir.path() / "logs" / "udpc_20200101.log");
  log.Pass();
  EXPECT_TRUE(fs::exists(dir.path() / "logs" / "_20200101.log"));
  EXPECT_TRUE(fs::exists(dir.path() / "logs" / "udpc_20200101.log"));
  log.Prefix = "udpc";
  log.Enabled = true;
  log.Pass();
  EXPECT_TRUE(fs::exists(dir.path() / "logs" / "_20200101.log"));
  EXPECT_FALSE(fs::exists(dir.path() / "logs" / "udpc_20200101.log"));
}

// With its thread: lines pushed while it runs are all written, in order, and Stop writes what
// is still queued instead of dropping it.
TEST(TLogThreadTest, WritesEveryLinePushedBeforeStop) {
  constexpr int kLines = 1000;
  test::TempDir dir;
  ManualClock clock(Local(2024, 5, 10, 8, 0, 0));
  TLog log(dir.path(), clock);
  log.Prefix = "udpc";
  log.Enabled = true;
  std::thread producer([&] {
    for (int i = 0; i < kLines; ++i) ASSERT_TRUE(log.Queue.Push("line " + std::to_string(i)));
  });
  producer.join();
  log.Stop();
  log.Stop();  // idempotent

  std::istringstream in(ReadFile(dir.path() / "logs" / "udpc_20240510.log"));
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ASSERT_EQ(line, "08:00:00 - line " + std::to_string(n) + "\r");
    ++n;
  }
  EXPECT_EQ(n, kLines);
}

}  // namespace
}  // namespace ab
