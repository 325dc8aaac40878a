// /GetPicture of the running driver: the file fetched from the double's maps folder comes back
// byte for byte; ids that name no picture are answered at once.

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace ab::e2e {
namespace {

TEST(PictureEndToEndTest, ServesTheServersFileBytesAndRejectsUnknownIds) {
  Bridge bridge;
  std::string image = "BM";
  for (int i = 0; i < 5000; ++i) image += static_cast<char>((i * 7) & 0xFF);
  bridge.Server().SetFile("plan1.bmp", image);
  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();

  for (int round = 0; round < 2; ++round) {  // nothing is cached: each request fetches again
    SCOPED_TRACE(round);
    const HttpReply r = bridge.Get("/GetPicture&n=401");
    ASSERT_TRUE(r.Answered);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body.size(), image.size());
    EXPECT_TRUE(r.Body == image);
  }
  const std::vector<std::string> expected(
      2, "{\"$c$\":\"getfile\",\"nameinserv\":\"maps\\\\plan1.bmp\",\"name\":\"plan1.bmp\"}");
  EXPECT_EQ(bridge.MapRequests(), expected);

  for (const char* target : {"/GetPicture&n=0", "/GetPicture&n=abc", "/GetPicture&n=999",
                             "/GetPicture?n=401"}) {
    SCOPED_TRACE(target);
    const auto start = Clock::now();
    const HttpReply r = bridge.Get(target);
    ASSERT_TRUE(r.Answered);
    EXPECT_EQ(r.Body, "FileNotFound");
    EXPECT_LT(SecondsSince(start), 5.0);
  }
  EXPECT_EQ(bridge.MapRequests().size(), 2u);
}

}  // namespace
}  // namespace ab::e2e
