#pragma once
// A link with its data synchronisation on an in-memory socket and a manual clock. The link
// stays disabled unless a test enables it, so what it queues for the server stays in OutQueue
// for the test to read; acceptance comes through CommandQueue.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/client_udp.h"
#include "link/link_sync.h"
#include "link/memory_socket.h"
#include "link_test_util.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "tables/table_file_writer.h"
#include "util/json.h"

namespace ab::test {

inline constexpr char kSyncClientId[] = "5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b";
inline constexpr char kSyncTid[] = "0123abcd-4567-89ef-0123-456789abcdef";
inline constexpr Endpoint kSyncLinkEnd{0x0A0000FE, 40000};
inline constexpr Endpoint kSyncServerEnd{0x0A000001, 5000};
inline const std::vector<std::string> kTableNames = {"mesmaps", "otvl", "otvls", "object"};

// n_abs, p_d and a number column "v" for the given record numbers.
inline TableData SmallTable(const std::string& name, std::vector<int64_t> numbers) {
  TableData t;
  t.Name = name;
  t.RowCount = static_cast<int32_t>(numbers.size());
  FieldData n;
  n.Name = "n_abs";
  n.Numbers = numbers;
  FieldData pd;
  pd.Name = "p_d";
  pd.Type = 3;
  pd.Numbers.assign(numbers.size(), 0);
  FieldData v;
  v.Name = "v";
  for (int64_t x : numbers) v.Numbers.push_back(x * 10);
  t.Fields = {n, pd, v};
  return t;
}

inline std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

class SyncFixture : public ::testing::Test {
 protected:
  void Make(bool with_tables, bool with_queue = true) {
    if (with_tables) {
      for (const auto& n : kTableNames) AddTable(tables, dir.path(), n, "", "", false, false);
    }
    if (with_queue) AddQueue(queues, "bg");
    auto [a, b] = MakeMemorySocketPair(kSyncLinkEnd, kSyncServerEnd);
    server = std::move(b);
    link = std::make_unique<client_udp>(kSyncClientId, 5000, "10.0.0.1", std::move(a), clock, lock,
                                        dir.path(), false);
    link->Queues = &queues;
    sync = std::make_unique<LinkSync>(*link, with_tables ? &tables : nullptr, lock,
                                      [this](const std::string& name) {
                                        // The owner's callback takes the lock itself.
                                        EXPECT_TRUE(lock.try_lock()) << "called under Lock";
                                        lock.unlock();
                                        refreshed.push_back(name);
                                      });
    link->Sync = sync.get();
  }
  void TearDown() override {
    if (link) link->Sync = nullptr;
  }

  void Step() { test::StepLink(*link, clock, 200); }
  void Advance(std::chrono::nanoseconds d) {
    clock.Advance(d);
    Step();
  }
  // A command as the dispatcher takes it.
  void Command(const std::string& text) {
    ASSERT_TRUE(link->CommandQueue.Push(text));
    Step();
  }
  void Accept() {
    Command(std::string("{\"$c$\":\"regok\",\"tid\":\"") + kSyncTid + "\",\"version\":\"1\"}");
  }
  void FromServer(const Bytes& d) { server->SendTo(kSyncLinkEnd, d); }
  // A whole file in chunks of 960 bytes, announced first.
  void ServeFile(const std::string& name, const std::string& bytes) {
    Command("{\"$c$\":\"sendfile\",\"name\":\"" + name + "\"}");
    const int32_t total = static_cast<int32_t>(bytes.size());
    const int32_t count = total == 0 ? 1 : (total - 1) / 960 + 1;
    for (int32_t c = 0; c < count; ++c) {
      const size_t from = static_cast<size_t>(c) * 960;
      FromServer(MakeChunk(kKindFile, ++number, c + 1, count, static_cast<int32_t>(from), total,
                           std::string_view(bytes).substr(from, 960)));
    }
    Step();
  }
  static std::vector<std::string> Drain(OchFIFOJSON& q) {
    std::vector<std::string> out;
    std::string s;
    while (q.Pop(s)) out.push_back(s);
    return out;
  }
  std::vector<std::string> Events() { return Drain(link->EventQueue); }
  std::vector<std::string> Out() { return Drain(link->OutQueue); }
  std::vector<std::string> LogLines() { return Drain(link->Log.Queue); }
  // Texts of kind 0 that the link sent as single datagrams.
  std::vector<std::string> SentTexts() {
    std::vector<std::string> out;
    MemoryDatagram d;
    while (server->Take(d)) {
      auto dec = Decode(d.Data);
      if (dec.Header.Kind == kKindText && dec.Header.ChunkCount == 1) out.push_back(dec.Data);
    }
    return out;
  }
  std::filesystem::path Temp(const std::string& name) const { return dir.path() / "temp" / name; }
  TBaseClient& Table(size_t i) { return *tables[i]; }

  TempDir dir;
  ManualClock clock;
  std::mutex lock;
  TBaseC tables;
  TAQueue queues;
  std::unique_ptr<MemorySocket> server;
  std::unique_ptr<client_udp> link;
  std::unique_ptr<LinkSync> sync;
  std::vector<std::string> refreshed;
  int64_t number = 100;  // the server's message numbers
};

}  // namespace ab::test
