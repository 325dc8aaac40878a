#include "util/queue.h"

#include <gtest/gtest.h>

#include <climits>

namespace ab {
namespace {

TEST(TFQueueCTest, GetQueueRequestOncePerRegistration) {
  TAQueue queues;
  AddQueue(queues, "bg");
  TFQueueC& q = *queues[0];
  EXPECT_EQ(q.GetQueueRequest(), "{\"$c$\":\"getqueue\",\"name\":\"bg\"}");
  EXPECT_TRUE(q.RequestSent);
  EXPECT_EQ(q.GetQueueRequest(), "");

  // The next registration clears both flags; a reply that already came suppresses the request.
  q.RequestSent = false;
  q.InfoReceived = true;
  EXPECT_EQ(q.GetQueueRequest(), "");
  EXPECT_FALSE(q.RequestSent);
}

TEST(TFQueueCTest, AcknowledgeMovesPositionAndReleasesThePackage) {
  struct Case {
    const char* name;
    int32_t count;
    int32_t position;
    int32_t counter;
    int32_t expected;
  };
  const Case cases[] = {
      {"next by -1", 10, 4, -1, 5},
      {"-1 at the end stays", 10, 10, -1, 10},
      {"counter + 1", 10, 4, 6, 7},
      {"capped at Count", 10, 4, 20, 10},
      {"moves back", 10, 8, 2, 3},
      {"largest counter does not overflow", 10, 4, INT_MAX, 10},
      {"never before the first entry", 10, 4, -7, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFQueueC q;
    q.Count = c.count;
    q.Position = c.position;
    q.Pack = "{\"name\":\"bg\",\"zap\":[{}]}";
    q.PackReady = true;
    q.InPack = 3;
    q.Acknowledge(c.counter);
    EXPECT_EQ(q.Position, c.expected);
    EXPECT_EQ(q.Count, c.count);
    EXPECT_TRUE(q.Pack.empty());
    EXPECT_FALSE(q.PackReady);
  }
}

TEST(TAQueueTest, AddQueueAppendsFreshCursors) {
  TAQueue queues;
  AddQueue(queues, "bg");
  TFQueueC* first = queues[0].get();
  AddQueue(queues, "other");
  ASSERT_EQ(queues.size(), 2u);
  EXPECT_EQ(queues[0].get(), first);  // cursors handed out earlier stay valid
  EXPECT_EQ(queues[0]->Name, "bg");
  const TFQueueC& q = *queues[1];
  EXPECT_EQ(q.Name, "other");
  EXPECT_EQ(q.Count, 0);
  EXPECT_EQ(q.Position, 0);
  EXPECT_FALSE(q.InfoReceived || q.RequestSent || q.PackReady);
  EXPECT_TRUE(q.Pack.empty());
}

}  // namespace
}  // namespace ab
