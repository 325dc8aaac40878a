// /GetObjects reusing its last unfiltered body: through the controller, over real tables, with
// the changes the link makes.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

#include "core/form22.h"
#include "support/temp_dir.h"
#include "tables/table_file_writer.h"
#include "tables/table_fixture.h"
#include "web/objects_resource.h"

namespace ab {
namespace {

using test::IntField;

FieldData Texts(std::string name, std::vector<std::optional<std::string>> values, uint8_t type = 2,
                int32_t width = 20) {
  FieldData f;
  f.Name = std::move(name);
  f.Type = type;
  f.Width = width;
  f.Texts = std::move(values);
  return f;
}

// Record numbers in field 1, p_d in field 2, the given fields, short empty texts elsewhere.
TableData MakeTable(std::string name, std::vector<int64_t> numbers, int32_t fields,
                    std::map<int32_t, FieldData> given) {
  TableData t;
  t.Name = std::move(name);
  t.RowCount = static_cast<int32_t>(numbers.size());
  given.emplace(1, IntField("n_abs", numbers));
  given.emplace(2, IntField("p_d", std::vector<int64_t>(numbers.size(), 0), 3));
  for (int32_t n = 1; n <= fields; ++n) {
    auto it = given.find(n);
    t.Fields.push_back(it != given.end() ? it->second : Texts("f" + std::to_string(n), {}, 2, 4));
  }
  return t;
}

TableData Objects(std::vector<int64_t> numbers, std::vector<std::optional<std::string>> names) {
  std::vector<std::optional<std::string>> flags(numbers.size(), std::string("\x20\0", 2));
  return MakeTable("object", numbers, 139,
                   {{4, IntField("r_dt", {}, 8)},
                    {8, Texts("name", std::move(names))},
                    {25, IntField("lon", {}, 6)},
                    {26, IntField("lat", {}, 6)},
                    {139, Texts("flags", flags, 11, 2)}});
}

class PassportCacheTest : public ::testing::Test {
 protected:
  PassportCacheTest() {
    Form22Options o;
    o.WorkDir = dir.path();
    o.StartThreads = false;
    o.OpenSocket = [] { return std::unique_ptr<DatagramSocket>(); };
    form = std::make_unique<TForm22>(std::move(o));
    form->FormCreate();
    // Loaded and announced in the order the link uses.
    Load(MakeTable("mesmaps", {100, 101}, 9,
                   {{7, IntField("obj", {10, 11})}, {9, Texts("caption", {"front", "back"})}}));
    Load(MakeTable("otvl", {200, 201}, 11,
                   {{7, Texts("fio", {"Ivanov", "Petrov"})}, {8, Texts("post", {"guard", ""})}}));
    Load(MakeTable("otvls", {300, 301, 302}, 8,
                   {{7, IntField("obj", {10, 11, 10})}, {8, IntField("pers", {200, 201, 201})}}));
    Load(Objects({10, 11, 12}, {"Alpha", "Beta", "Gamma"}));
  }

  TBaseClient& T(const std::string& name) AB_NO_THREAD_SAFETY_ANALYSIS {
    for (auto& t : form->Controller().Tables)
      if (t->NameTable == name) return *t;
    throw std::runtime_error("no table " + name);
  }
  // Under Lock, as the link does it; TableRefreshed is left to the caller.
  void Locked(const std::function<void()>& change) {
    ControllerLockGuard guard(form->Controller().Lock);
    change();
  }
  void Load(const TableData& d) {
    Locked([&] { ASSERT_EQ(T(d.Name).LoadRawImage(BuildRawTable(d)), TableLoadResult::kLoaded); });
    form->Controller().TableRefreshed(d.Name);
  }
  void Change(const std::string& table, int32_t row, std::vector<ChangeEntry> entries) {
    Locked([&] {
      TBaseClient& t = T(table);
      int32_t rows = std::max(t.RowCount(), row + 1);
      ASSERT_TRUE(t.ApplyRowChange(row, BuildRowChange(table, row, rows, entries)));
      t.Refresh();
    });
  }
  void Delete(const std::string& table, int32_t number) {
    Locked([&] {
      ASSERT_TRUE(T(table).MarkDeleted(number));
      T(table).Refresh();
    });
  }

  std::string Served(std::string_view body = "") { return GetObjects(*form, body).BodyText(); }
  std::string Fresh(std::optional<int32_t> filter = std::nullopt) {
    ContextLock hold(*form);
    return BuildObjectPassports(form->Tables(), form->Settings().PublicAddress, filter);
  }
  PassportCache& Cache() { return *form->ObjectsCache(); }

  test::TempDir dir;
  std::unique_ptr<TForm22> form;
};

TEST_F(PassportCacheTest, SecondRequestReusesTheBodyByteForByte) {
  std::string first = Served();
  ASSERT_NE(first.find("\"name\":\"Gamma\""), std::string::npos) << first;
  ASSERT_NE(first.find("\"fullname\":\"Petrov\""), std::string::npos) << first;
  EXPECT_EQ(first, Fresh());
  EXPECT_EQ(Cache().Builds(), 1u);
  EXPECT_EQ(Served(), first);
  EXPECT_EQ(Served("{}"), first);
  EXPECT_EQ(Cache().Builds(), 1u);
  EXPECT_EQ(Cache().Hits(), 2u);
}

// Each change must reach the next request, including one that came between a table's change
// and the rebuild of the lists that depend on it.
TEST_F(PassportCacheTest, EveryChangeReachesTheNextRequest) {
  struct Case {
    const char* what;
    std::function<void()> change;
    const char* refreshed;  // the link's notice that follows, if any
    const char* shows;      // a text the body has afterwards
  };
  std::vector<Case> cases = {
      {"object renamed",
       [&] {
         Change("object", 0, {{"name", SlotValue("Omega", 20)}});
       },
       "object", "\"name\":\"Omega\""},
      {"person renamed, no rebuild follows",
       [&] {
         Change("otvl", 1, {{"fio", SlotValue("Sidorov", 20)}});
       },
       nullptr, "\"fullname\":\"Sidorov\""},
      {"picture caption",
       [&] {
         Change("mesmaps", 0, {{"caption", SlotValue("roof", 20)}});
       },
       "mesmaps", "\"text\":\"roof\""},
      {"person linked",
       [&] {
         Change(
             "otvls", 3,
             {{"n_abs", IntValue(303, 4)}, {"obj", IntValue(12, 4)}, {"pers", IntValue(200, 4)}});
       },
       "otvls", "\"position\":\"guard\"}]}}]"},  // under object 12, the last one
      {"object deleted", [&] { Delete("object", 11); }, "object", nullptr},
      {"objects reloaded",
       [&] {
         Locked([&] {
           T("object").Clear();
           T("object").LoadRawImage(BuildRawTable(Objects({10, 13}, {"Alpha", "Delta"})));
         });
       },
       "object", "\"name\":\"Delta\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string before = Served();
    ASSERT_EQ(Served(), before);  // cached
    uint64_t builds = Cache().Builds();
    c.change();
    std::string between = Served();
    EXPECT_EQ(between, Fresh());
    EXPECT_EQ(Cache().Builds(), builds + 1);
    if (c.refreshed) form->Controller().TableRefreshed(c.refreshed);
    std::string after = Served();
    EXPECT_EQ(after, Fresh());
    EXPECT_NE(after, before);
    if (c.shows) {
      EXPECT_NE(after.find(c.shows), std::string::npos) << after;
    }
    EXPECT_EQ(Served(), after);
  }
}

TEST_F(PassportCacheTest, ListRebuildAloneRenewsTheBody) {
  std::string before = Served();
  // Links rewritten behind the table's back, so that only the lists' rebuild tells.
  Locked([&] { T("otvls").Fields[6]->Data.Ints = {12, 12, 12}; });
  EXPECT_EQ(Served(), before);
  form->Controller().TableRefreshed("otvls");
  std::string after = Served();
  EXPECT_EQ(after, Fresh());
  // Object 12, the last, had no persons and now has all three.
  EXPECT_TRUE(before.ends_with("\"resp_persons\":[]}}]")) << before;
  EXPECT_TRUE(after.ends_with("\"position\":null}]}}]")) << after;
}

TEST_F(PassportCacheTest, FilteredRequestsNeitherUseNorFillTheCache) {
  const std::string filtered = "{\"object_id\":\"11\"}";
  std::string one = Served(filtered);
  EXPECT_EQ(one, Fresh(11));
  EXPECT_EQ(Cache().Builds(), 0u);
  std::string all = Served();
  EXPECT_EQ(all, Fresh());
  EXPECT_NE(all, one);
  EXPECT_EQ(Served(filtered), one);
  EXPECT_EQ(Served("{\"object_id\":\"10\"}"), Fresh(10));
  EXPECT_EQ(Served(), all);
  EXPECT_EQ(Cache().Builds(), 1u);
  EXPECT_EQ(Cache().Hits(), 1u);
}

// A reused body leaves the cursor row of "mesmaps" where building it would have.
TEST_F(PassportCacheTest, ReuseMovesThePictureCursorAsABuildWould) {
  Served();
  int32_t after_build = 0;
  Locked([&] { after_build = T("mesmaps").RecordIndex(); });
  Served("{\"object_id\":\"10\"}");
  Locked([&] { ASSERT_NE(T("mesmaps").RecordIndex(), after_build); });
  Served();
  ASSERT_EQ(Cache().Hits(), 1u);
  Locked([&] { EXPECT_EQ(T("mesmaps").RecordIndex(), after_build); });
}

// A picture list naming a row beyond the view (the table shrank, the lists were not rebuilt yet)
// reads wherever the cursor was left: such a body is built every time.
TEST_F(PassportCacheTest, BodyReadingOutsideAViewIsNotReused) {
  Served();
  Delete("mesmaps", 100);
  uint64_t builds = Cache().Builds();
  EXPECT_EQ(Served(), Fresh());
  EXPECT_EQ(Served(), Fresh());
  EXPECT_EQ(Cache().Builds(), builds + 2);
  form->Controller().TableRefreshed("mesmaps");
  Served();
  Served();
  EXPECT_EQ(Cache().Builds(), builds + 3);
}

// Readers racing a writer that flips one name: every answer is one of the two whole bodies.
TEST_F(PassportCacheTest, ConcurrentReadersSeeOnlyWholeStates) {
  auto rename = [&](const char* name) {
    Change("object", 1, {{"name", SlotValue(name, 20)}});
    form->Controller().TableRefreshed("object");
  };
  rename("One");
  const std::string one = Fresh();
  rename("Two");
  const std::string two = Fresh();
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        std::string b = Served();
        if (b != one && b != two) ++wrong;
      }
    });
  }
  for (int i = 0; i < 200; ++i) rename(i % 2 ? "Two" : "One");
  for (auto& t : readers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  uint64_t hits = Cache().Hits();
  EXPECT_EQ(Served(), two);
  EXPECT_EQ(Served(), two);
  EXPECT_GT(Cache().Hits(), hits);
}

}  // namespace
}  // namespace ab
