#include "core/status_display.h"

#include <gtest/gtest.h>

#include "core/daily_log.h"
#include "core/date_time_text.h"
#include "core_test_support.h"
#include "support/temp_dir.h"

#include <fstream>
#include <sstream>

namespace ab {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(DateTimeTextTest, FixedFormatAndMidnight) {
  test::UseUtc();
  EXPECT_EQ(FormatDateTime(test::March5At140709()), "05.03.2024 14:07:09");
  EXPECT_EQ(FormatDay(test::March5At140709()), "20240305");
  const Clock::WallTime midnight(std::chrono::seconds(1709596800));  // 05.03.2024 00:00:00
  EXPECT_EQ(FormatDateTime(midnight), "05.03.2024");
  EXPECT_EQ(FormatDateTime(midnight + 1s), "05.03.2024 00:00:01");
}

TEST(StatusDisplayTest, MemoKeepsAtMost1001Lines) {
  test::UseUtc();
  ManualClock clock(test::March5At140709());
  StatusDisplay display(clock);
  std::vector<std::string> seen;
  display.OnLine = [&](const std::string& l) { seen.push_back(l); };
  for (int i = 0; i < 1001; ++i) display.AddStatusLine(std::to_string(i));
  EXPECT_EQ(display.Memo().size(), 1001u);
  display.AddStatusLine("new");
  EXPECT_EQ(display.Memo().size(), 1001u);
  EXPECT_EQ(display.Memo().front(), "05.03.2024 14:07:09 1");
  EXPECT_EQ(display.Memo().back(), "05.03.2024 14:07:09 new");
  EXPECT_EQ(seen.size(), 1002u);
}

TEST(StatusDisplayTest, PostedLinesArriveOnDrain) {
  test::UseUtc();
  ManualClock clock(test::March5At140709());
  StatusDisplay display(clock);
  display.PostStatusLine("GetObjects");
  EXPECT_TRUE(display.Memo().empty());
  display.DrainPosted();
  ASSERT_EQ(display.Memo().size(), 1u);
  EXPECT_EQ(display.Memo().back(), "05.03.2024 14:07:09 GetObjects");
}

TEST(DailyLogTest, EntriesOnEitherSideOfMidnightGoToTwoFiles) {
  test::UseUtc();
  test::TempDir dir;
  ManualClock clock(Clock::WallTime(std::chrono::seconds(1709596800 - 1)));  // 04.03 23:59:59
  DailyLog log(dir.path(), clock);
  log.WriteDailyLog("before\r\nbody");
  clock.Advance(2s);
  log.WriteDailyLog("after");
  log.WriteDailyLog("again");
  EXPECT_EQ(ReadFile(dir.path() / "us20240304.log"), "04.03.2024 23:59:59 - before\r\nbody\r\n");
  EXPECT_EQ(ReadFile(dir.path() / "us20240305.log"),
            "05.03.2024 00:00:01 - after\r\n05.03.2024 00:00:01 - again\r\n");
}

TEST(DailyLogTest, UnwritableFolderDropsTheEntry) {
  ManualClock clock;
  DailyLog log("/nonexistent-folder/for/sure", clock);
  log.WriteDailyLog("lost");  // must neither throw nor crash
  EXPECT_FALSE(std::filesystem::exists("/nonexistent-folder"));
}

TEST(LinkIconTest, StrokeColourByStateAndMovingPhase) {
  EXPECT_EQ(LinkIconColour(true, false), 0x00A000u);
  EXPECT_EQ(LinkIconColour(false, false), 0xE00000u);
  EXPECT_EQ(LinkIconColour(true, true), 0x000000u);
  const LinkIcon a = DrawLinkIcon(true, false, 0);
  const LinkIcon b = DrawLinkIcon(true, false, 1);
  EXPECT_EQ(a.Pixels[8][2], 0x00A000u);
  EXPECT_EQ(a.Pixels[8][3], 0xFFFFFFu);
  EXPECT_EQ(b.Pixels[8][3], 0x00A000u);
  EXPECT_EQ(a.Pixels[0][0], b.Pixels[0][0]);  // frame stays
  const LinkIcon c = DrawLinkIcon(false, false, 4);
  EXPECT_EQ(c.Pixels[8][2], 0xE00000u);
}

}  // namespace
}  // namespace ab
