// A picture the double never serves: the driver gives up after its 10 s wait with "Error".

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace ab::e2e {
namespace {

TEST(PictureSlowEndToEndTest, WithheldPictureAnswersErrorAfterTenSeconds) {
  Bridge bridge;  // plan2.bmp is in "mesmaps" but not among the double's files
  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();
  const auto start = Clock::now();
  const HttpReply r = bridge.Get("/GetPicture&n=402", "", 60s);
  const double waited = SecondsSince(start);
  ASSERT_TRUE(r.Answered);
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Body, "Error");
  EXPECT_GE(waited, 9.9);
  EXPECT_LT(waited, 30.0);
  EXPECT_EQ(bridge.MapRequests().size(), 1u);
}

}  // namespace
}  // namespace ab::e2e
