#include "web/picture_resource.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "fake_context.h"
#include "support/temp_dir.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

class PictureTest : public ::testing::Test {
 protected:
  PictureTest() : signal_(ctx_.Time) {
    ctx_.Config.WorkDir = dir_.path();
    std::filesystem::create_directory(dir_.path() / "temp");
    AddPicture(5, "plan1.png");
    AddPicture(7, "\xcf\xeb\xe0\xed 2.jpg");  // Cyrillic name, kept as Windows-1251 bytes
    AddPicture(8, "..\\..\\setup.ini");
    AddPicture(9, "sub/inner.png");
  }

  void AddPicture(int32_t id, const std::string& name) {
    int32_t row = ctx_.Pictures.AddRow(id);
    ctx_.Pictures.SetText(row, 8, name);
  }

  // What the link does when a file has been received completely.
  void Deliver(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_.path() / "temp" / name, std::ios::binary) << bytes;
    ctx_.Arrived = true;
    signal_.Notify();
  }

  void AwaitWaiter() {
    while (signal_.Waiters() == 0) std::this_thread::yield();
  }

  std::string Get(const std::string& path) { return pictures_.Get(ctx_, signal_, path).Body; }

  test::TempDir dir_;
  test::FakeContext ctx_;
  LinkSignal signal_;
  PictureResource pictures_;
};

TEST_F(PictureTest, UnknownOrMissingIdsAnswerFileNotFoundWithoutCommand) {
  for (const char* path : {"/GetPicture&n=0", "/GetPicture&n=abc", "/GetPicture", "/GetPictureXYZ",
                           "/GetPicture&n=", "/GetPicture&n=6", "/GetPicture&n=-5"}) {
    EXPECT_EQ(Get(path), "FileNotFound") << path;
  }
  EXPECT_TRUE(ctx_.Commands().empty());
  EXPECT_EQ(ctx_.AwaitedFile, "");
}

TEST_F(PictureTest, DeliveredFileIsSentByteForByte) {
  const std::string bytes("\x89PNG\r\n\x1a\n\0\0\xff", 11);
  ctx_.OnPush = [&](const std::string&) { Deliver("plan1.png", bytes); };
  EXPECT_EQ(Get("/GetPicture&n=5"), bytes);
  EXPECT_EQ(ctx_.Commands(), std::vector<std::string>{
                                 "{\"$c$\":\"getfile\",\"nameinserv\":\"maps\\\\plan1.png\","
                                 "\"name\":\"plan1.png\"}"});
  EXPECT_EQ(ctx_.AwaitedFile, "plan1.png");
  EXPECT_FALSE(ctx_.LockHeld);
}

TEST_F(PictureTest, FileDeliveredWhileWaitingIsSent) {
  std::thread link([&] {
    AwaitWaiter();
    EXPECT_FALSE(ctx_.LockHeld);
    ctx_.Time.Advance(9999ms);
    Deliver("\xcf\xeb\xe0\xed 2.jpg", "JPEG");
  });
  EXPECT_EQ(Get("/GetPicture&n=7"), "JPEG");
  link.join();
  EXPECT_EQ(ctx_.Commands().at(0),
            "{\"$c$\":\"getfile\",\"nameinserv\":\"maps\\\\\xcf\xeb\xe0\xed 2.jpg\","
            "\"name\":\"\xcf\xeb\xe0\xed 2.jpg\"}");
}

TEST_F(PictureTest, NoDeliveryWithinTenSecondsIsAnErrorAndALateFileIsNotSent) {
  std::thread link([&] {
    AwaitWaiter();
    ctx_.Time.Advance(10s);
    signal_.Notify();
  });
  EXPECT_EQ(Get("/GetPicture&n=5"), "Error");
  link.join();
  // The late file lands; the next request asks again and waits afresh.
  Deliver("plan1.png", "old");
  std::thread link2([&] {
    AwaitWaiter();
    EXPECT_FALSE(ctx_.Arrived);
    Deliver("plan1.png", "new");
  });
  EXPECT_EQ(Get("/GetPicture&n=5"), "new");
  link2.join();
  EXPECT_EQ(ctx_.Commands().size(), 2u);
}

TEST_F(PictureTest, ArrivedFlagWithoutFileIsAnError) {
  ctx_.OnPush = [&](const std::string&) {
    ctx_.Arrived = true;
    signal_.Notify();
  };
  EXPECT_EQ(Get("/GetPicture&n=5"), "Error");
}

TEST_F(PictureTest, NamesReachingOutsideTempAreRefusedWithoutCommand) {
  std::ofstream(dir_.path() / "setup.ini") << "[main]\nPassword=secret\n";
  EXPECT_EQ(Get("/GetPicture&n=8"), "Error");
  EXPECT_EQ(Get("/GetPicture&n=9"), "Error");
  EXPECT_TRUE(ctx_.Commands().empty());
  for (const char* bad : {"", ".", "..", "a..b", "a/b", "a\\b", "c:x", "a\"b", "a\nb"}) {
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  }
  for (const char* good : {"plan1.png", "a b.jpg", ".hidden", "\xcf\xeb\xe0\xed.png"}) {
    EXPECT_TRUE(IsPlainFileName(good)) << good;
  }
}

TEST_F(PictureTest, SecondRequestSendsItsCommandOnlyAfterTheFirstIsAnswered) {
  ctx_.OnPush = [&](const std::string& command) {
    // The first request must have left its wait before the second asks for a file.
    if (command.find("2.jpg") != std::string::npos) {
      EXPECT_EQ(signal_.Waiters(), 0);
    }
  };
  std::string first, second;
  std::thread a([&] { first = Get("/GetPicture&n=5"); });
  AwaitWaiter();
  std::thread b([&] { second = Get("/GetPicture&n=7"); });
  Deliver("plan1.png", "one");
  a.join();
  // Now the second request runs: wait for it, then deliver its file.
  for (;;) {
    AwaitWaiter();
    std::lock_guard lk(ctx_.RecordMutex);
    if (ctx_.AwaitedFile == "\xcf\xeb\xe0\xed 2.jpg") break;
  }
  Deliver("\xcf\xeb\xe0\xed 2.jpg", "two");
  b.join();
  EXPECT_EQ(first, "one");
  EXPECT_EQ(second, "two");
  EXPECT_EQ(ctx_.Commands().size(), 2u);
}

TEST_F(PictureTest, CancelledSignalAnswersErrorAtOnce) {
  signal_.Cancel();
  EXPECT_EQ(Get("/GetPicture&n=5"), "Error");
  EXPECT_EQ(Get("/GetPicture&n=0"), "FileNotFound");
}

}  // namespace
}  // namespace ab
