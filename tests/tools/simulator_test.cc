// The simulator with the demo data set against a real link and the controller's tables over
// an in-memory channel, stepped with a manual clock: the tables load as the driver reads them,
// and operator commands reach the driver's tables.

#include "msgserver/simulator.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "core/controller_tables.h"
#include "link/client_udp.h"
#include "link/link_sync.h"
#include "link/memory_socket.h"
#include "support/temp_dir.h"
#include "util/codepage.h"
#include "util/json.h"

namespace ab::sim {
namespace {

using namespace std::chrono_literals;

constexpr Endpoint kLinkEnd{0x0A0000FE, 40000};
constexpr Endpoint kServerEnd{0x0A000001, 5000};
// 2025-12-10 12:00:00 UTC
const Clock::WallTime kStart{std::chrono::seconds(1765368000)};

std::string W(const char* utf8) { return Utf8ToCp1251(utf8); }

class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorTest() : clock(kStart), tables(dir.path()) {
    auto [a, b] = MakeMemorySocketPair(kLinkEnd, kServerEnd);
    server = std::make_unique<MsgServer>(std::move(b), clock);
    DataSetRead demo = ReadBuiltInDemo(1765000000);
    EXPECT_EQ(demo.Error, "");
    data = demo.Data;
    sim = std::make_unique<Simulator>(*server, demo.Data, clock, out, false, 1);
    sim->Install();
    tables.RegisterTables();
    AddQueue(queues, "bg");
    link =
        std::make_unique<client_udp>("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", 5000, "10.0.0.1",
                                     std::move(a), clock, tables.Lock.Native(), dir.path(), false);
    link->Queues = &queues;
    sync = std::make_unique<LinkSync>(*link, &tables.Tables, tables.Lock.Native(),
                                      [this](const std::string& n) { tables.TableRefreshed(n); });
    link->Sync = sync.get();
    link->SetEnabled(true);
  }
  ~SimulatorTest() override { link->Sync = nullptr; }

  void Tick() {
    while (link->ReceivePass()) {
    }
    for (int i = 0; i < 10 && link->Iterate(); ++i) {
    }
    server->Step();
    clock.Advance(1ms);
  }
  template <typename F>
  bool RunUntil(F done, std::chrono::milliseconds limit) {
    for (int64_t t = 0; t < limit.count(); ++t) {
      if (done()) return true;
      Tick();
    }
    return done();
  }
  bool Loaded() { return link->TablesReady.load() && link->Registered.load(); }
  // The table's view row of a record number; 0 when it is not in the view.
  int32_t ViewRow(TBaseClient& t, int32_t number) {
    for (int32_t v = 1; v <= t.Count(); ++v) {
      if (AsInteger(t.FieldByNumberAt(1, v)) == number) return v;
    }
    return 0;
  }
  TBaseClient& Object() { return *tables.Tables[static_cast<size_t>(tables.ObjectTableIndex)]; }
  TBaseClient& Persons() { return *tables.Tables[static_cast<size_t>(tables.PersonTableIndex)]; }

  test::TempDir dir;
  ManualClock clock;
  std::ostringstream out;
  DataSet data;
  ControllerTables tables;
  TAQueue queues;
  std::unique_ptr<MsgServer> server;
  std::unique_ptr<Simulator> sim;
  std::unique_ptr<client_udp> link;
  std::unique_ptr<LinkSync> sync;
};

TEST_F(SimulatorTest, DemoTablesLoadIntoTheDriversTablesAndIndex) {
  ASSERT_TRUE(RunUntil([&] { return Loaded(); }, 20000ms)) << out.str();
  ControllerLockGuard l(tables.Lock);
  TBaseClient& o = Object();
  ASSERT_EQ(o.Count(), static_cast<int32_t>(data.Objects.size()));
  for (const ObjectRow& want : data.Objects) {
    SCOPED_TRACE(want.Id);
    const int32_t v = ViewRow(o, want.Id);
    ASSERT_GT(v, 0);
    EXPECT_EQ(AsString(o.FieldByNumberAt(8, v)), want.Name);
    EXPECT_EQ(AsString(o.FieldByNumberAt(9, v)), want.Street);
    EXPECT_EQ(AsString(o.FieldByNumberAt(10, v)), want.District);
    EXPECT_EQ(AsString(o.FieldByNumberAt(12, v)), want.House);
    EXPECT_EQ(AsString(o.FieldByNumberAt(13, v)), want.Phone);
    EXPECT_EQ(AsString(o.FieldByNumberAt(21, v)), want.Type);
    EXPECT_EQ(o.FieldByNumberAt(25, v)->AsFloat(), static_cast<float>(want.Lon));
    EXPECT_EQ(o.FieldByNumberAt(26, v)->AsFloat(), static_cast<float>(want.Lat));
    EXPECT_EQ((o.FieldByNumberAt(29, v)->AsBytes()[1] & 0x40) != 0, !want.Active);
    EXPECT_EQ((o.FieldByNumberAt(139, v)->AsBytes()[0] & 0x20) != 0, want.Served);
    EXPECT_EQ(o.FieldByNumberAt(206, v)->AsInteger(), want.State);
    EXPECT_EQ(o.FieldByNumberAt(207, v)->AsCardinal(), want.StateTime);
    EXPECT_EQ(o.FieldByNumberAt(208, v)->AsCardinal(), want.Updated);
    EXPECT_EQ(o.FieldByNumberAt(4, v)->AsCardinal(), want.Updated);
    EXPECT_EQ(AsString(o.FieldByNumberAt(209, v)), want.SensorId);
    EXPECT_EQ(AsString(o.FieldByNumberAt(210, v)), want.SensorLocation);
    EXPECT_EQ(AsString(o.FieldByNameAt("number", v)), std::to_string(want.Number));
    EXPECT_EQ(AsString(o.FieldByNameAt("typeo", v)), std::to_string(want.Typeo));
    EXPECT_EQ(AsString(o.FieldByNameAt("name", v)), want.Name);

    // The per-object lists the passports are built from.
    const auto k = static_cast<size_t>(want.Id - tables.MinObjectRecord);
    ASSERT_LT(k, tables.ObjectPersons.size());
    std::vector<std::string> persons;
    for (const int32_t row : tables.ObjectPersons[k]) {
      persons.push_back(AsString(Persons().FieldAtRow(7, row)));
    }
    std::vector<std::string> expected;
    for (const auto& link_row : data.Links) {
      if (link_row.Object != want.Id) continue;
      for (const auto& p : data.Persons) {
        if (p.Id == link_row.Person) expected.push_back(p.Name);
      }
    }
    EXPECT_EQ(persons, expected);
    size_t pictures = 0;
    for (const auto& p : data.Pictures) pictures += p.Object == want.Id ? 1 : 0;
    EXPECT_EQ(tables.ObjectPictures[k].size(), pictures);
  }
}

TEST_F(SimulatorTest, CommandsChangeAndDeleteRowsInTheDriversTables) {
  ASSERT_TRUE(RunUntil([&] { return Loaded(); }, 20000ms)) << out.str();
  const int32_t id = data.Objects[0].Id;
  const int32_t person = data.Links[0].Person;
  EXPECT_TRUE(sim->Command("change " + std::to_string(id) + " name = Новое имя \"А/Б\""));
  EXPECT_TRUE(sim->Command("change " + std::to_string(id) + " lat=55.5"));
  EXPECT_TRUE(sim->Command("change " + std::to_string(id) + " served=0"));
  EXPECT_TRUE(sim->Command("change " + std::to_string(id) + " state=3"));
  EXPECT_TRUE(sim->Command("delete otvl " + std::to_string(person)));
  const auto person_gone = [&] {
    ControllerLockGuard l(tables.Lock);
    return ViewRow(Persons(), person) == 0;
  };
  ASSERT_TRUE(RunUntil(person_gone, 5000ms)) << out.str();
  RunUntil([] { return false; }, 500ms);
  {
    ControllerLockGuard l(tables.Lock);
    TBaseClient& o = Object();
    const int32_t v = ViewRow(o, id);
    ASSERT_GT(v, 0);
    EXPECT_EQ(AsString(o.FieldByNumberAt(8, v)), W("Новое имя \"А/Б\""));
    EXPECT_EQ(o.FieldByNumberAt(26, v)->AsFloat(), 55.5f);
    EXPECT_EQ(o.FieldByNumberAt(139, v)->AsBytes()[0] & 0x20, 0);
    EXPECT_EQ(o.FieldByNumberAt(206, v)->AsInteger(), 3);
    const auto stamp = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::seconds>(clock.WallNow().time_since_epoch())
            .count() -
        kUnix2000);
    EXPECT_NEAR(o.FieldByNumberAt(207, v)->AsCardinal(), stamp, 10);
    EXPECT_NEAR(o.FieldByNumberAt(208, v)->AsCardinal(), stamp, 10);
    EXPECT_EQ(Persons().Count(), static_cast<int32_t>(data.Persons.size()) - 1);
  }
  // A driver that loads the tables again gets them as changed.
  EXPECT_EQ(sim->Data().Objects[0].State, 3);
  for (const auto& p : sim->Data().Persons) EXPECT_EQ(p.Deleted, p.Id == person) << p.Id;

  const struct {
    const char* Line;
    const char* Says;
  } refused[] = {
      {"change 99999 name=x", "!! no object 99999"},
      {"change 101 colour=red", "!! unknown field 'colour'"},
      {"change 101 lat=north", "!! 'lat' takes a number from -90 to 90"},
      {"change 101 state=-1", "!! 'state' takes a whole number"},
      {"change 101", "!! usage: change"},
      {"delete otvl 999999", "!! no record 999999 in \"otvl\""},
      {"delete things 1", "!! no table 'things'"},
      {"silent maybe", "!! usage: silent on|off"},
      {"loss 2", "!! usage: loss"},
      {"fly", "!! unknown command 'fly'"},
  };
  for (const auto& r : refused) {
    out.str("");
    EXPECT_TRUE(sim->Command(r.Line));
    EXPECT_NE(out.str().find(r.Says), std::string::npos) << r.Line << " printed " << out.str();
  }
  EXPECT_FALSE(sim->Command("quit"));
}

TEST_F(SimulatorTest, PrintsWhatTheDriverSendsInUtf8AndQueuesEvents) {
  ASSERT_TRUE(RunUntil([&] { return Loaded(); }, 20000ms)) << out.str();
  const std::string log = out.str();
  EXPECT_NE(log.find("<- registration: user"), std::string::npos) << log;
  EXPECT_NE(log.find("<- table request \"object\""), std::string::npos) << log;
  EXPECT_NE(log.find("-> table \"object\" ready"), std::string::npos) << log;
  EXPECT_EQ(log.find("keep-alive"), std::string::npos) << "keep-alives are only counted";

  out.str("");
  const std::string ack =
      W("{\"$c$\":\"netwritesoobe\",\"command\":\"netwritesoobe\",\"data\":["
        "{\"ty\":\"7F01\",\"so\":{\"sy:by\":\"1\",\"nu:in\":\"1000\","
        "\"co:st,4\":\"0077\",\"cl:wo\":\"32\",\"na:st\":\"Школа\","
        "\"de:st\":\"Отправлен наряд в МЧС\",\"us:st\":\"admin\"}}]}");
  ASSERT_TRUE(link->OutQueue.Push(ack));
  const int64_t before = server->QueueCount();
  EXPECT_TRUE(sim->Command("event 101 Проверка связи"));
  EXPECT_EQ(server->QueueCount(), before + 1);
  ASSERT_TRUE(RunUntil(
      [&] { return out.str().find("<- message to the console") != std::string::npos; }, 3000ms));
  EXPECT_NE(
      out.str().find("object 1000 \"Школа\": Отправлен наряд в МЧС (type 7F01, operator admin)"),
      std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("== event " + std::to_string(before) + " queued: object 101"),
            std::string::npos)
      << out.str();
  // The event reaches the driver's cursor with the text in the tables' code page, once the
  // packages before it are confirmed.
  ASSERT_TRUE(RunUntil(
      [&] {
        std::lock_guard l(tables.Lock.Native());
        TFQueueC& q = *queues[0];
        if (!q.PackReady) return false;
        if (q.Pack.find(W("Проверка связи")) != std::string::npos) return true;
        std::string zap = JsonGetValue(q.Pack, "zap");
        std::string last;
        for (std::string e = JsonNextElement(zap); !e.empty(); e = JsonNextElement(zap)) last = e;
        q.Acknowledge(std::stoi(JsonGetValue(last, "inc_counter")));
        link->RequestKeepalive();
        return false;
      },
      5000ms));
  EXPECT_NE(out.str().find("-> package of"), std::string::npos);

  out.str("");
  EXPECT_TRUE(sim->Command("status"));
  EXPECT_NE(out.str().find("registrations 1,"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("console messages 1,"), std::string::npos) << out.str();
}

TEST_F(SimulatorTest, GeneratesAnEventEveryPeriodAndNoBurstAfterAPause) {
  const int64_t before = server->QueueCount();
  sim->Tick(5);  // starts the period
  EXPECT_EQ(server->QueueCount(), before);
  for (int i = 0; i < 20; ++i) {
    clock.Advance(1s);
    sim->Tick(5);
  }
  EXPECT_EQ(server->QueueCount(), before + 4);
  clock.Advance(60s);
  sim->Tick(5);
  EXPECT_EQ(server->QueueCount(), before + 5);
  sim->Tick(0);
  clock.Advance(60s);
  sim->Tick(0);
  EXPECT_EQ(server->QueueCount(), before + 5);
}

}  // namespace
}  // namespace ab::sim
