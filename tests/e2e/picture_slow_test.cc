// A picture the double never serves: the driver gives up after its 10 s wait with "Error".

#include <gtest/gtest.h>

#include "e2e_fixture.h"
#include "util/json.h"

namespace ab::e2e {
namespace {

// The double's "getfile" requests for its maps folder (tables are fetched the same way).
std::vector<std::string> MapRequests(Bridge& bridge) {
  std::vector<std::string> out;
  for (const auto& m : bridge.Received("getfile"))
    if (JsonGetValue(m, "nameinserv").rfind("maps\\", 0) == 0) out.push_back(m);
  return out;
}

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
  EXPECT_EQ(MapRequests(bridge).size(), 1u);
}

}  // namespace
}  // namespace ab::e2e
