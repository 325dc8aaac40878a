// /GetObjects of the running driver against the answer computed from the data set the double
// serves, before and after the double sends a row change and a deletion as record messages.

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace ab::e2e {
namespace {

TEST(ObjectsEndToEndTest, PassportsFollowTheTablesAndTheirRecordMessages) {
  Bridge bridge;
  bridge.Launch();
  ASSERT_TRUE(bridge.WaitReady(60s)) << bridge.Proc().Text();

  HttpReply r = bridge.Get("/GetObjects");
  ASSERT_TRUE(r.Answered);
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/json; charset=utf-8");
  EXPECT_EQ(r.Body, ExpectedObjects(bridge.Data(), bridge.PublicAddress()));

  // The filter picks one object; an unselected one is never served.
  r = bridge.Get("/GetObjects", "{\"object_id\":\"104\"}");
  DataSet only = bridge.Data();
  std::erase_if(only.Objects, [](const ObjectRow& o) { return o.Number != 104; });
  EXPECT_EQ(r.Body, ExpectedObjects(only, bridge.PublicAddress()));
  EXPECT_EQ(bridge.Get("/GetObjects", "{\"object_id\":103}").Body, "[]");

  // A new name for the first object, then object 104 deleted.
  const std::string renamed = Utf8ToCp1251("Гимназия \"Юг\" & сад");
  bridge.Server().SendRecord(ObjectTextChange(bridge.Data(), 0, "name", renamed));
  bridge.Server().SendRecord(Deletion("object", 104));
  DataSet& d = bridge.MutableData();
  d.Objects[0].Name = renamed;
  std::erase_if(d.Objects, [](const ObjectRow& o) { return o.Number == 104; });
  const std::string expected = ExpectedObjects(d, bridge.PublicAddress());
  std::string last;
  EXPECT_TRUE(WaitFor(
      [&] {
        last = bridge.Get("/GetObjects").Body;
        return last == expected;
      },
      20s, 100ms))
      << last;
}

}  // namespace
}  // namespace ab::e2e
