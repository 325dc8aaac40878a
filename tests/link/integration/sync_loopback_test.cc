// The link with its data synchronisation against the message-server double over loopback UDP:
// tables, queue, records, files both ways and the outbox, each side on its own threads.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/client_udp.h"
#include "link/link_sync.h"
#include "link/udp_socket.h"
#include "msgserver/msg_server.h"
#include "support/outbox_files.h"
#include "support/temp_dir.h"
#include "tables/table_file_writer.h"
#include "util/bytes.h"
#include "util/json.h"

namespace ab {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::Le32;

template <typename F>
bool WaitFor(F done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return done();
}

const std::vector<std::string> kNames = {"mesmaps", "otvl", "otvls", "object"};

TableData Table(const std::string& name) {
  TableData t;
  t.Name = name;
  t.RowCount = 3;
  FieldData n;
  n.Name = "n_abs";
  n.Numbers = {1, 2, 3};
  FieldData pd;
  pd.Name = "p_d";
  pd.Type = 3;
  pd.Numbers = {0, 0, 0};
  FieldData v;
  v.Name = "v";
  v.Numbers = {10, 20, 30};
  t.Fields = {n, pd, v};
  return t;
}

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string Deletion(const std::string& table, int32_t number) {
  std::string body(9, '\0');
  body[0] = static_cast<char>(table.size());
  body.replace(1, table.size(), table);
  return Le32(3) + body + Le32(number);
}

std::string Change(const std::string& table, int32_t row, int32_t value) {
  return Le32(2) + Str(BuildRowChange(table, row, 3, {{"v", IntValue(value, 4)}}));
}

std::string Bundle(const std::vector<std::string>& entries) {
  std::string s = Le32(4) + std::string(1, static_cast<char>(entries.size()));
  for (const auto& e : entries) s += Le32(static_cast<int32_t>(e.size())) + e;
  return s;
}

class SyncLoopbackTest : public ::testing::TestWithParam<bool> {};

TEST_P(SyncLoopbackTest, TablesQueueRecordsFilesAndOutboxEndToEnd) {
  auto server_socket = OpenUdpSocket("127.0.0.1", 0);
  ASSERT_NE(server_socket, nullptr);
  const uint16_t port = server_socket->LocalEndpoint().Port;
  MsgServer server(std::move(server_socket), SystemClock::Instance());
  std::vector<TableData> data;
  for (const auto& n : kNames) data.push_back(Table(n));
  server.SetTables(std::move(data), GetParam());
  server.SetFile("pic.bmp", "BM" + std::string(2500, 'p'));
  server.SetQueueAnswer(
      "{\"name\":\"bg\",\"count\":\"5\",\"datetime\":\"9\",\"zap\":[{\"e\":1}],\"inpack\":\"1\"}");
  server.Start();

  test::TempDir dir;
  // Left by another program before the start.
  test::WriteFileText(dir.path() / "dd8" / "backsoob.dat",
                      Le32(TBackSoobString::kSignature) + Le32(2) + Le32(0) + Le32(0));
  test::WriteFileText(dir.path() / "dd8" / "bs0.dat",
                      test::OutboxRecord("{\"$c$\":\"back\",\"i\":1}") +
                          test::OutboxRecord("{\"$c$\":\"back\",\"i\":2}"));
  const std::string upload(3000, 'u');
  test::WriteFileText(dir.path() / "up.txt", upload);

  std::mutex lock;
  TBaseC tables;
  for (const auto& n : kNames) AddTable(tables, dir.path(), n, "", "", false, false);
  TAQueue queues;
  AddQueue(queues, "bg");
  std::mutex seen_mutex;
  std::vector<std::string> refreshed;
  auto socket = OpenUdpSocket();
  ASSERT_NE(socket, nullptr);
  client_udp link("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", port, "127.0.0.1", std::move(socket),
                  SystemClock::Instance(), lock, dir.path());
  link.Queues = &queues;
  LinkSync sync(link, &tables, lock, [&](const std::string& name) {
    std::lock_guard guard(lock);  // as the owner does
    std::lock_guard seen(seen_mutex);
    refreshed.push_back(name);
  });
  link.Sync = &sync;
  std::vector<std::string> events;
  auto drain = [&] {
    std::string e;
    while (link.EventQueue.Pop(e)) events.push_back(e);
  };
  auto refreshed_copy = [&] {
    std::lock_guard seen(seen_mutex);
    return refreshed;
  };
  link.Start();
  link.SetEnabled(true);

  ASSERT_TRUE(WaitFor([&] { return link.TablesReady.load(); }, 20s));
  {
    std::lock_guard guard(lock);
    for (auto& t : tables) EXPECT_EQ(t->Count(), 3) << t->NameTable;
  }
  ASSERT_TRUE(WaitFor([&] { return refreshed_copy().size() == 4; }, 10s));
  EXPECT_EQ(refreshed_copy(), kNames);
  drain();
  int loads = 0;
  for (const auto& e : events) loads += JsonGetValue(e, "$c$") == "tableload";
  EXPECT_EQ(loads, 4);

  // The queue follows the keep-alive answers.
  ASSERT_TRUE(WaitFor(
      [&] {
        std::lock_guard guard(lock);
        return queues[0]->PackReady;
      },
      10s));

  // Changes: a bundle with an unknown type in the middle, then a lone deletion.
  server.SendRecord(
      Bundle({Change("otvl", 0, 77), Le32(7) + std::string(13, '\0'), Deletion("object", 2)}));
  server.SendRecord(Deletion("mesmaps", 3));
  ASSERT_TRUE(WaitFor(
      [&] {
        std::lock_guard guard(lock);
        return tables[0]->Count() == 2;
      },
      10s));
  {
    std::lock_guard guard(lock);
    EXPECT_EQ(tables[1]->FieldAtRow(3, 1)->AsInteger(), 77);
    EXPECT_EQ(tables[3]->Count(), 2);
    EXPECT_EQ(tables[2]->Count(), 3);
  }
  ASSERT_TRUE(WaitFor([&] { return refreshed_copy().size() == 7; }, 10s));
  const auto after = refreshed_copy();
  EXPECT_EQ(std::multiset<std::string>(after.begin() + 4, after.end()),
            (std::multiset<std::string>{"otvl", "object", "mesmaps"}));

  // A file to the link, awaited by the owner.
  sync.SetAwaitedFile("pic.bmp");
  ASSERT_TRUE(link.OutQueue.Push(
      "{\"$c$\":\"getfile\",\"nameinserv\":\"maps\\\\pic.bmp\",\"name\":\"pic.bmp\"}"));
  ASSERT_TRUE(WaitFor([&] { return sync.FileArrived.load(); }, 10s));
  EXPECT_EQ(test::ReadFileText(dir.path() / "temp" / "pic.bmp"), "BM" + std::string(2500, 'p'));

  // A file from the link.
  ASSERT_TRUE(link.FileQueue.Push("{\"name\":\"up.txt\",\"nameinserv\":\"in\\\\up.txt\"}"));
  ASSERT_TRUE(WaitFor([&] { return server.ReceivedFiles().count("in\\up.txt") != 0; }, 10s));
  EXPECT_EQ(server.ReceivedFiles()["in\\up.txt"], upload);

  // The outbox drained, each message removed once delivered.
  ASSERT_TRUE(WaitFor([&] { return sync.Outbox().Outbox()->Pending() == 0; }, 10s));
  EXPECT_EQ(server.CountOf("back"), 2);

  ASSERT_TRUE(WaitFor(
      [&] {
        drain();
        for (const auto& e : events) {
          if (e ==
              "{\"$c$\":\"sendfileok\",\"name\":\"up.txt\",\"nameinserv\":\"in\\\\up.txt\","
              "\"size\":3000}") {
            return true;
          }
        }
        return false;
      },
      10s));
  EXPECT_TRUE(link.Registered.load());
  link.SetEnabled(false);
  link.Stop();
  link.Sync = nullptr;
  server.Stop();
}

INSTANTIATE_TEST_SUITE_P(RawAndCompressed, SyncLoopbackTest, ::testing::Bool());

}  // namespace
}  // namespace ab
