#include "link/link_sync.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/record_message.h"
#include "sync_fixture.h"
#include "util/bytes.h"

namespace ab {
namespace {

using test::AsText;
using test::kSyncTid;
using test::kTableNames;
using test::SmallTable;

Bytes Le32(int32_t v) {
  Bytes b(4);
  PutI32(b.data(), v);
  return b;
}

Bytes Record(int32_t type, const Bytes& body) {
  Bytes r = Le32(type);
  r.insert(r.end(), body.begin(), body.end());
  return r;
}

Bytes Deletion(const std::string& table, int32_t number) {
  Bytes body(9, 0);
  body[0] = static_cast<uint8_t>(table.size());
  std::copy(table.begin(), table.end(), body.begin() + 1);
  const Bytes n = Le32(number);
  body.insert(body.end(), n.begin(), n.end());
  return Record(kRecordDeletion, body);
}

Bytes Change(const std::string& table, int32_t row, int32_t rows, int32_t value) {
  return Record(kRecordRowChange, BuildRowChange(table, row, rows, {{"v", IntValue(value, 4)}}));
}

// Entries given as whole record messages; extra_length adds to the last entry's stated length.
Bytes Bundle(const std::vector<Bytes>& entries, int32_t extra_length = 0) {
  Bytes body{static_cast<uint8_t>(entries.size())};
  for (size_t i = 0; i < entries.size(); ++i) {
    const int32_t len =
        static_cast<int32_t>(entries[i].size()) + (i + 1 == entries.size() ? extra_length : 0);
    const Bytes l = Le32(len);
    body.insert(body.end(), l.begin(), l.end());
    body.insert(body.end(), entries[i].begin(), entries[i].end());
  }
  return Record(kRecordBundle, body);
}

class LinkSyncTest : public test::SyncFixture {
 protected:
  void SetUp() override { Make(true); }

  // Runs the table cycle as the server would answer it; table 2 comes compressed.
  void LoadAll() {
    Accept();
    for (size_t i = 0; i < kTableNames.size(); ++i) {
      const std::string& name = kTableNames[i];
      const auto out = Out();
      ASSERT_FALSE(out.empty()) << name;
      EXPECT_EQ(JsonGetValue(out.back(), "command"), "gettableraw");
      EXPECT_EQ(JsonGetValue(out.back(), "name"), name);
      const bool zip = i == 2;
      Command("{\"$c$\":\"tablerawfromfile\",\"name\":\"" + name + "\",\"filename\":\"" + name +
              ".raw\",\"zip\":\"" + (zip ? "1" : "0") + "\",\"x\":\"0\"}");
      EXPECT_EQ(Out(),
                std::vector<std::string>{"{\"$c$\":\"getfile\",\"nameinserv\":\"client9\\\\" +
                                         std::string(kSyncTid) + "\\\\" + name +
                                         ".raw\",\"name\":\"" + name + ".raw\",\"delete\":1}"});
      const Bytes raw = BuildRawTable(SmallTable(name, {1, 2, 3}));
      const std::string file = AsText(zip ? Compress(raw) : raw);
      ServeFile(name + ".raw", file);
      EXPECT_FALSE(std::filesystem::exists(Temp(name + ".raw"))) << name;
      bool notice = false;
      for (const auto& e : Events()) {
        notice |= e == "{\"$c$\":\"tableload\",\"name\":\"" + name + "\",\"size\":\"" +
                           std::to_string(file.size()) + "\",\"count\":3}";
      }
      EXPECT_TRUE(notice) << name;
    }
    ASSERT_TRUE(link->TablesReady.load());
  }
};

TEST_F(LinkSyncTest, CommandsGoWhereTheTableSays) {
  Accept();
  Events();
  Out();
  struct Case {
    std::string text;
    std::vector<std::string> events, out, files;
  };
  const std::string fts = "{\"$c$\":\"filetoserver\",\"name\":\"a.txt\",\"nameinserv\":\"b\"}";
  const std::vector<Case> cases = {
      {"{\"$c$\":\"refreshtid\",\"t\":\"1\"}", {}, {}, {}},
      {"{\"$c$\":\"filetoserverok\",\"name\":\"x\"}", {}, {}, {}},
      {"{\"$c$\":\"newlk\"}", {"{\"$c$\":\"newlk\"}"}, {}, {}},
      {"{\"$c$\":\"netyesadddatadatabase\",\"a\":1}",
       {"{\"$c$\":\"netyesadddatadatabase\",\"a\":1}"},
       {},
       {}},
      {"{\"$c$\":\"sendfilenotfind\"}", {"{\"$c$\":\"sendfilenotfind\"}"}, {}, {}},
      {"{\"$c$\":\"mobiltech\",\"data\":\"alarm 5\"}", {"alarm 5"}, {}, {}},
      {"{\"$c$\":\"reglkok\"}", {"{\"$c$\":\"reglkok\"}"}, {}, {}},
      {"{\"$c$\":\"regpinerror\"}", {"{\"$c$\":\"regpinerror\"}"}, {}, {}},
      {"{\"$c$\":\"regok \",\"tid\":\"x\"}", {"{\"$c$\":\"regok \",\"tid\":\"x\"}"}, {}, {}},
      {"{\"$c$\":\"Testex\"}", {"{\"$c$\":\"Testex\"}"}, {}, {}},
      {"{\"$c$\":\"whatever\"}", {"{\"$c$\":\"whatever\"}"}, {}, {}},
      {fts, {}, {}, {fts}},
      {"{\"$c$\":\"historyfromfile\",\"filename\":\"h1.dat\"}",
       {},
       {std::string("{\"$c$\":\"getfile\",\"nameinserv\":\"h1.dat\",\"tid\":\"") + kSyncTid +
        "\"}"},
       {}},
      {"{\"$c$\":\"getarchiveok\",\"name\":\"a\",\"filename\":\"arh\\\\a_2024.arc\"}",
       {},
       {"{\"$c$\":\"getfile\",\"nameinserv\":\"arh\\\\a_2024.arc\",\"name\":\"a_2024.arc\","
        "\"delete\":1}"},
       {}},
      {"{\"$c$\":\"tablerawfromfile\",\"name\":\"nosuch\",\"filename\":\"n.raw\",\"zip\":\"0\"}",
       {},
       {std::string("{\"$c$\":\"getfile\",\"nameinserv\":\"client9\\\\") + kSyncTid +
        "\\\\n.raw\",\"name\":\"n.raw\",\"delete\":1}"},
       {}},
      {"{\"$c$\":\"startrecivefileerror\"}", {"{\"$c$\":\"disconnected\",\"p\":12}"}, {}, {}},
      {"{\"$c$\":\"startrecivefileerror2\"}", {"{\"$c$\":\"disconnected\",\"p\":9}"}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    link->Registered = true;  // the resets above end the registration
    Command(c.text);
    EXPECT_EQ(Events(), c.events);
    std::vector<std::string> out = Out();
    // A reset or the first table request may add the table cycle's own request; keep getfiles.
    std::erase_if(out, [](const std::string& s) { return JsonGetValue(s, "$c$") != "getfile"; });
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(Drain(link->FileQueue), c.files);
  }
  EXPECT_EQ(sync->AwaitedArchive(), "a_2024.arc");
}

TEST_F(LinkSyncTest, TableFileReadySetsTheLoadFormOfTheNamedTable) {
  Command(
      "{\"$c$\":\"tablerawfromfile\",\"name\":\"otvls\",\"filename\":\"c:dir\\\\t9.raw\","
      "\"zip\":\"1\",\"x\":\"1\"}");
  EXPECT_EQ(Table(2).ExpectedFile, "t9.raw");
  EXPECT_TRUE(Table(2).RawFile);
  EXPECT_TRUE(Table(2).Compressed);
  EXPECT_TRUE(Table(2).StructureOnly);
  EXPECT_EQ(Table(1).ExpectedFile, "");
  // Tid is still empty: no acceptance yet.
  const auto logs = LogLines();
  const std::string line =
      "table otvls file {\"$c$\":\"getfile\",\"nameinserv\":\"client9\\\\\\\\c:dir\\t9.raw\","
      "\"name\":\"c:dir\\t9.raw\"}";
  EXPECT_NE(std::find(logs.begin(), logs.end(), line), logs.end())
      << ::testing::PrintToString(logs);
}

TEST_F(LinkSyncTest, KeepaliveAnswerAndQueueInfoUpdateTheCursorUnderItsRules) {
  Accept();
  Events();
  TFQueueC& q = *queues[0];
  Command("{\"$c$\":\"queuezag\",\"name\":\"bg\",\"count\":\"40\",\"position\":\"12\"}");
  EXPECT_TRUE(q.InfoReceived);
  EXPECT_EQ(q.Count, 40);
  EXPECT_EQ(q.Position, 12);
  q.PackReady = true;
  Command("{\"$c$\":\"queuezag\",\"name\":\"bg\",\"count\":\"x\",\"position\":\"7\"}");
  EXPECT_EQ(q.Count, 0);  // invalid counts as 0
  EXPECT_FALSE(q.PackReady);
  q.Count = 40;

  // A smaller count keeps Count, the date still moves; other queues are skipped.
  Command(
      "{\"$c$\":\"testex\",\"queue\":[{\"name\":\"zz\",\"count\":\"99\"},"
      "{\"name\":\"bg\",\"count\":\"30\",\"datetime\":\"777\"}]}");
  EXPECT_EQ(q.Count, 40);
  EXPECT_EQ(q.DateTime, 777);
  EXPECT_FALSE(q.PackReady);

  const std::string entry =
      "{\"name\":\"bg\",\"count\":\"45\",\"datetime\":\"778\",\"zap\":[{\"n\":1}],\"inpack\":"
      "\"3\"}";
  SentTexts();
  int wakes = 0;
  sync->OnLinkChanged = [&] {
    // The package must be visible to the woken handler.
    EXPECT_TRUE(q.PackReady);
    ++wakes;
  };
  Command("{\"$c$\":\"testex\",\"queue\":[" + entry + "],\"messages\":{\"filename\":\"m1.dat\"}}");
  sync->OnLinkChanged = nullptr;
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(q.Count, 45);
  EXPECT_TRUE(q.PackReady);
  EXPECT_EQ(q.InPack, 3);
  EXPECT_EQ(q.Pack, entry);
  EXPECT_EQ(sync->AwaitedMessages(), "m1.dat");
  EXPECT_EQ(SentTexts(), std::vector<std::string>{std::string("{\"$c$\":\"getfile\",\"nameinserv\":"
                                                              "\"client9\\\\") +
                                                  kSyncTid + "\\\\m1.dat\",\"tid\":\"" + kSyncTid +
                                                  "\",\"name\":\"m1.dat\",\"delete\":1}"});
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"tosoob\",\"data\":\"messages\"}"});
  // The messages file is dropped on arrival and reported.
  ServeFile("m1.dat", "abc");
  EXPECT_FALSE(std::filesystem::exists(Temp("m1.dat")));
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"getfileok\",\"name\":\"m1.dat\"}"});
}

TEST_F(LinkSyncTest, TablesLoadOneByOneThenEachIsReportedOnce) {
  LoadAll();
  EXPECT_EQ(refreshed, kTableNames);
  for (size_t i = 0; i < tables.size(); ++i) EXPECT_EQ(Table(i).Count(), 3) << i;
  Step();
  EXPECT_EQ(refreshed.size(), 4u);  // nothing changed since
}

TEST_F(LinkSyncTest, RecordsWaitForTheTablesThenApplyInOrder) {
  Accept();
  // Arrives while the tables load: must wait.
  ASSERT_TRUE(link->RecordQueue.Push(Deletion("otvl", 2)));
  Step();
  EXPECT_EQ(link->RecordQueue.Size(), 1);
  Events();
  // LoadAll accepts again, which clears and reloads; the waiting record then applies.
  LoadAll();
  Step();
  EXPECT_EQ(link->RecordQueue.Size(), 0);
  EXPECT_EQ(Table(1).Count(), 2);
}

TEST_F(LinkSyncTest, ChangesDeletionsAndBundlesApplyAndReportEachChangedTable) {
  LoadAll();
  refreshed.clear();
  LogLines();
  // A bundle whose second entry has an unknown type: the first and third still apply.
  ASSERT_TRUE(link->RecordQueue.Push(
      Bundle({Change("otvl", 0, 3, 77), Record(7, Bytes(13, 0)), Deletion("object", 3)})));
  ASSERT_TRUE(link->RecordQueue.Push(Change("mesmaps", 1, 3, 55)));
  ASSERT_TRUE(link->RecordQueue.Push(Deletion("nosuch", 1)));
  Step();
  {
    std::lock_guard guard(lock);
    EXPECT_EQ(Table(1).FieldAtRow(3, 1)->AsInteger(), 77);
    EXPECT_EQ(Table(0).FieldAtRow(3, 2)->AsInteger(), 55);
    EXPECT_EQ(Table(3).Count(), 2);
    EXPECT_EQ(Table(2).Count(), 3);
  }
  // One record per iteration, each change reported after it.
  EXPECT_EQ(refreshed, (std::vector<std::string>{"otvl", "object", "mesmaps"}));
  const auto logs = LogLines();
  EXPECT_NE(std::find(logs.begin(), logs.end(), "raw10 3"), logs.end());
}

TEST_F(LinkSyncTest, DamagedRecordsChangeNothingAndTheLinkGoesOn) {
  LoadAll();
  refreshed.clear();
  const std::vector<Bytes> bad = {
      Bytes{1, 2},                                  // shorter than its type
      Record(kRecordDeletion, Bytes(5, 0)),         // no room for the record number
      Bundle({Deletion("otvl", 1)}, 1),             // entry length one past the end
      Bundle({Deletion("otvl", 1)}, -20),           // negative length
      Record(kRecordBundle, Bytes{3, 0xFF, 0xFF}),  // count 3, a cut length field
      Record(kRecordBundle, {}),                    // no count
      Bundle({Bundle({Deletion("otvl", 1)})}),      // nested bundle: skipped
  };
  for (const auto& b : bad) ASSERT_TRUE(link->RecordQueue.Push(b));
  Step();
  EXPECT_EQ(link->RecordQueue.Size(), 0);
  EXPECT_EQ(Table(1).Count(), 3);
  EXPECT_TRUE(refreshed.empty());
  // Still working afterwards.
  ASSERT_TRUE(link->RecordQueue.Push(Deletion("otvl", 1)));
  Step();
  EXPECT_EQ(Table(1).Count(), 2);
}

TEST_F(LinkSyncTest, RowChangeInTextFormAppliesWholeBytesOnly) {
  LoadAll();
  refreshed.clear();
  const std::string hex = BytesToHex(BuildRowChange("otvls", 2, 3, {{"v", IntValue(99, 4)}}));
  Command("{\"$c$\":\"refreshdatadatabase\",\"nametable\":\"otvls\",\"fields\":\"" + hex +
          "F\",\"pos\":\"2\"}");
  {
    std::lock_guard guard(lock);
    EXPECT_EQ(Table(2).FieldAtRow(3, 3)->AsInteger(), 99);
  }
  EXPECT_EQ(refreshed, std::vector<std::string>{"otvls"});
  // A position that is not a number changes nothing.
  Command("{\"$c$\":\"refreshdatadatabase\",\"nametable\":\"otvls\",\"fields\":\"" +
          BytesToHex(BuildRowChange("otvls", 0, 3, {{"v", IntValue(5, 4)}})) +
          "\",\"pos\":\"0x\"}");
  std::lock_guard guard(lock);
  EXPECT_EQ(Table(2).FieldAtRow(3, 1)->AsInteger(), 10);
}

TEST_F(LinkSyncTest, ATableThatFailsToLoadLeavesTheLinkRunning) {
  Accept();
  Out();
  Command(
      "{\"$c$\":\"tablerawfromfile\",\"name\":\"mesmaps\",\"filename\":\"m.raw\",\"zip\":\"1\"}");
  ServeFile("m.raw", "not a zlib stream");
  EXPECT_FALSE(Table(0).Loaded);
  EXPECT_FALSE(link->TablesReady.load());
  // The cycle moves on to the next table.
  const auto next = Out();
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(JsonGetValue(next.back(), "name"), "otvl");
  const auto events = Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(JsonGetValue(events.back(), "$c$"), "tableload");
  // The next acceptance starts over with the first table.
  Accept();
  const auto out = Out();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(JsonGetValue(out.back(), "name"), "mesmaps");
}

}  // namespace
}  // namespace ab
