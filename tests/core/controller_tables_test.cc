#include "core/controller_tables.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "support/temp_dir.h"
#include "tables/table_file_writer.h"
#include "tables/table_fixture.h"

namespace ab {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using test::IntField;

// n_abs, p_d, fillers up to field 6, then the given fields as 7, 8, ...
TableData Table(const std::string& name, std::vector<int64_t> numbers, std::vector<int64_t> flags,
                std::vector<std::vector<int64_t>> from_seventh = {}) {
  TableData t;
  t.Name = name;
  t.RowCount = static_cast<int32_t>(numbers.size());
  t.Fields.push_back(IntField("n_abs", std::move(numbers)));
  t.Fields.push_back(IntField("p_d", std::move(flags), 3));
  for (int k = 3; k <= 6; ++k) t.Fields.push_back(IntField("f" + std::to_string(k), {}));
  for (size_t k = 0; k < from_seventh.size(); ++k)
    t.Fields.push_back(IntField("f" + std::to_string(k + 7), std::move(from_seventh[k])));
  return t;
}

class ControllerTablesTest : public ::testing::Test {
 protected:
  ControllerTablesTest() : ct_(dir_.path()) { ct_.RegisterTables(); }

  void Load(int32_t ControllerTables::*index, const TableData& data) {
    ControllerLockGuard guard(ct_.Lock);
    TBaseClient& t = *ct_.Tables[static_cast<size_t>(ct_.*index)];
    t.Clear();
    ASSERT_EQ(t.LoadRawImage(BuildRawTable(data)), TableLoadResult::kLoaded);
  }
  // The usual data set: objects 100, 101, 103 (103 deleted), persons 1, 2, 5.
  void LoadAll() {
    Load(&ControllerTables::ObjectTableIndex, Table("object", {100, 101, 103}, {0, 0, 1}));
    Load(&ControllerTables::PersonTableIndex, Table("otvl", {5, 1, 2}, {0, 0, 0}));
    // (object, person): duplicates stay; 999 is out of range; person 0, -1 and 3 have no row.
    Load(&ControllerTables::PersonLinkTableIndex,
         Table("otvls", {1, 2, 3, 4, 5, 6, 7, 8}, {0, 0, 0, 0, 0, 0, 0, 1},
               {{100, 101, 100, 999, 101, 101, 100, 100}, {2, 5, 2, 1, 0, -1, 3, 1}}));
    // The deleted second row shifts the view rows of the later ones.
    Load(&ControllerTables::MapTableIndex,
         Table("mesmaps", {1, 2, 3, 4, 5}, {0, 1, 0, 0, 0}, {{101, 100, 103, 50, 101}}));
  }

  test::TempDir dir_;
  ControllerTables ct_;
};

TEST_F(ControllerTablesTest, RegistersTheFourTablesInOrder) {
  ControllerLockGuard guard(ct_.Lock);
  ASSERT_EQ(ct_.Tables.size(), 4u);
  EXPECT_EQ(ct_.Tables[0]->NameTable, "mesmaps");
  EXPECT_EQ(ct_.Tables[1]->NameTable, "otvl");
  EXPECT_EQ(ct_.Tables[2]->NameTable, "otvls");
  EXPECT_EQ(ct_.Tables[3]->NameTable, "object");
  EXPECT_EQ(ct_.MapTableIndex, 0);
  EXPECT_EQ(ct_.PersonTableIndex, 1);
  EXPECT_EQ(ct_.PersonLinkTableIndex, 2);
  EXPECT_EQ(ct_.ObjectTableIndex, 3);
  for (const auto& t : ct_.Tables) {
    EXPECT_FALSE(t->CacheEnabled);
    EXPECT_FALSE(t->ArchiveEnabled);
    EXPECT_EQ(t->FieldsRequest, "");
  }
}

TEST_F(ControllerTablesTest, EmptyObjectTableGivesOneEmptyEntry) {
  ct_.TableRefreshed("object");
  ControllerLockGuard guard(ct_.Lock);
  EXPECT_EQ(ct_.MinObjectRecord, 0);
  EXPECT_THAT(ct_.ObjectPersons, ElementsAre(IsEmpty()));
  EXPECT_THAT(ct_.ObjectPictures, ElementsAre(IsEmpty()));
}

TEST_F(ControllerTablesTest, ObjectNotificationBuildsPersonAndPictureLists) {
  LoadAll();
  ct_.TableRefreshed("object");
  ControllerLockGuard guard(ct_.Lock);
  EXPECT_EQ(ct_.MinObjectRecord, 100);
  ASSERT_EQ(ct_.ObjectPersons.size(), 4u);  // 100..103: the deleted object counts
  // Physical rows of "otvl": person 2 is row 3, person 5 row 1.
  EXPECT_THAT(ct_.ObjectPersons[0], ElementsAre(3, 3));
  EXPECT_THAT(ct_.ObjectPersons[1], ElementsAre(1));
  EXPECT_THAT(ct_.ObjectPersons[2], IsEmpty());
  // View rows of "mesmaps": physical rows 1, 3, 5 are view rows 1, 2, 4.
  EXPECT_THAT(ct_.ObjectPictures[1], ElementsAre(1, 4));
  EXPECT_THAT(ct_.ObjectPictures[3], ElementsAre(2));
  EXPECT_THAT(ct_.ObjectPictures[0], IsEmpty());
}

TEST_F(ControllerTablesTest, EachNotificationRebuildsOnlyWhatDependsOnIt) {
  LoadAll();
  ct_.TableRefreshed("mesmaps");  // before any "object": the lists stay empty
  {
    ControllerLockGuard guard(ct_.Lock);
    EXPECT_TRUE(ct_.ObjectPictures.empty());
  }
  ct_.TableRefreshed("object");
  {
    ControllerLockGuard guard(ct_.Lock);
    ct_.Tables[static_cast<size_t>(ct_.MapTableIndex)]->MarkDeleted(5);
    ct_.Tables[static_cast<size_t>(ct_.MapTableIndex)]->Refresh();
    ct_.Tables[static_cast<size_t>(ct_.PersonLinkTableIndex)]->MarkDeleted(2);
    ct_.Tables[static_cast<size_t>(ct_.PersonLinkTableIndex)]->Refresh();
  }
  ct_.TableRefreshed("otvl");  // rebuilds nothing
  {
    ControllerLockGuard guard(ct_.Lock);
    EXPECT_THAT(ct_.ObjectPictures[1], ElementsAre(1, 4));
    EXPECT_THAT(ct_.ObjectPersons[1], ElementsAre(1));
  }
  ct_.TableRefreshed("mesmaps");
  ct_.TableRefreshed("otvls");
  ControllerLockGuard guard(ct_.Lock);
  EXPECT_THAT(ct_.ObjectPictures[1], ElementsAre(1));
  EXPECT_THAT(ct_.ObjectPersons[1], IsEmpty());
}

TEST_F(ControllerTablesTest, AbsurdRecordNumbersAreCapped) {
  Load(&ControllerTables::ObjectTableIndex, Table("object", {5, 6, 2000000000}, {0, 0, 0}));
  Load(&ControllerTables::PersonTableIndex, Table("otvl", {1}, {0}));
  Load(&ControllerTables::PersonLinkTableIndex,
       Table("otvls", {1, 2}, {0, 0}, {{6, 2000000000}, {1, 1}}));
  ct_.TableRefreshed("object");
  ControllerLockGuard guard(ct_.Lock);
  EXPECT_EQ(ct_.MinObjectRecord, 5);
  EXPECT_EQ(static_cast<int64_t>(ct_.ObjectPersons.size()), ControllerTables::kMaxObjectSpan);
  EXPECT_EQ(static_cast<int64_t>(ct_.ObjectPictures.size()), ControllerTables::kMaxObjectSpan);
  EXPECT_THAT(ct_.ObjectPersons[1], ElementsAre(1));
}

TEST_F(ControllerTablesTest, ReadersUnderLockNeverSeeAHalfRebuild) {
  LoadAll();
  ct_.TableRefreshed("object");
  std::thread writer([this] {
    for (int i = 0; i < 200; ++i) ct_.TableRefreshed(i % 2 ? "object" : "otvls");
  });
  for (int i = 0; i < 200; ++i) {
    ControllerLockGuard guard(ct_.Lock);
    ASSERT_EQ(ct_.ObjectPersons.size(), 4u);
    EXPECT_THAT(ct_.ObjectPersons[0], ElementsAre(3, 3));
  }
  writer.join();
}

}  // namespace
}  // namespace ab
