// Drives the link's data synchronisation with what a hostile or broken server could send once
// the tables are loaded: commands with fuzzed members, record messages, file chunks, time.
// Beyond memory errors it checks that nothing is written outside the working folder and that
// a file beside it (reachable by "..", an absolute path or a symlink) is never sent.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "link/client_udp.h"
#include "link/link_sync.h"
#include "link/link_test_util.h"
#include "link/memory_socket.h"
#include "tables/base_client.h"
#include "tables/table_file_writer.h"
#include "util/bytes.h"
#include "util/queue.h"

namespace {

constexpr ab::Endpoint kLinkEnd{0x0A0000FE, 40000};
constexpr ab::Endpoint kServerEnd{0x0A000001, 5000};
constexpr char kSecret[] = "OUTSIDE-THE-WORKING-FOLDER";
const char* const kTables[] = {"mesmaps", "otvl", "otvls", "object"};
const char* const kCommands[] = {
    "testex",          "refreshtid",        "newlk",           "netyesadddatadatabase",
    "queuezag",        "getarchiveok",      "historyfromfile", "tablerawfromfile",
    "filetoserverok",  "refreshdatadatabase", "sendfilenotfind", "sendfile",
    "startrecivefileerror", "startrecivefileerror2", "startrecivefile", "filetoserver",
    "mobiltech",       "regok"};

struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  std::string_view Take(size_t k) {
    k = std::min(k, n);
    std::string_view s(reinterpret_cast<const char*>(p), k);
    p += k;
    n -= k;
    return s;
  }
};

ab::TableData Small(const std::string& name) {
  ab::TableData t;
  t.Name = name;
  t.RowCount = 3;
  ab::FieldData n, pd, v;
  n.Name = "n_abs";
  n.Numbers = {1, 2, 3};
  pd.Name = "p_d";
  pd.Type = 3;
  pd.Numbers = {0, 0, 0};
  v.Name = "name";
  v.Type = 24;
  v.Texts = {"a", "b", "c"};
  t.Fields = {n, pd, v};
  return t;
}

struct Sandbox {
  std::filesystem::path parent, work;
  Sandbox() {
    parent = std::filesystem::temp_directory_path() /
             ("ab-sync-fuzz-" + std::to_string(static_cast<long>(getpid())));
    work = parent / "work";
    std::filesystem::remove_all(parent);
    std::filesystem::create_directories(work);
    std::ofstream(parent / "outside.txt") << kSecret;
    std::filesystem::create_symlink(parent / "outside.txt", work / "inside.txt");
  }
  // Only the working folder and the planted file may exist beside each other.
  void Check() const {
    for (const auto& e : std::filesystem::directory_iterator(parent)) {
      const auto name = e.path().filename();
      if (name != "work" && name != "outside.txt") {
        std::fprintf(stderr, "written outside the working folder: %s\n", e.path().c_str());
        std::abort();
      }
    }
  }
};

void Step(ab::client_udp& link, ab::ManualClock& clock, ab::MemorySocket& server) {
  ab::test::StepLink(link, clock, 50);
  ab::MemoryDatagram d;
  while (server.Take(d)) {
    const auto dec = ab::test::Decode(d.Data);
    if (dec.Data.find(kSecret) != std::string::npos) {
      std::fprintf(stderr, "a file outside the working folder was sent\n");
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Sandbox box;
  std::filesystem::remove_all(box.work / "temp");
  std::filesystem::remove_all(box.work / "arh");

  ab::ManualClock clock;
  std::mutex lock;
  ab::TBaseC tables;
  for (const char* t : kTables) ab::AddTable(tables, box.work, t, "", "", false, false);
  ab::TAQueue queues;
  ab::AddQueue(queues, "bg");
  auto [a, b] = ab::MakeMemorySocketPair(kLinkEnd, kServerEnd);
  ab::MemorySocket& server = *b;
  ab::client_udp link("5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b", 5000, "10.0.0.1", std::move(a),
                      clock, lock, box.work, false);
  link.Queues = &queues;
  ab::LinkSync sync(link, &tables, lock, [](const std::string&) {});
  link.Sync = &sync;

  // Registered, with the four tables loaded the way the server delivers them.
  int64_t number = 100;
  link.CommandQueue.Push(
      std::string("{\"$c$\":\"regok\",\"tid\":\"0123abcd-4567-89ef-0123-456789abcdef\"}"));
  Step(link, clock, server);
  for (const char* t : kTables) {
    const std::string name = t;
    link.CommandQueue.Push("{\"$c$\":\"tablerawfromfile\",\"name\":\"" + name +
                           "\",\"filename\":\"" + name + ".raw\",\"zip\":\"0\",\"x\":\"0\"}");
    link.CommandQueue.Push("{\"$c$\":\"sendfile\",\"name\":\"" + name + ".raw\"}");
    Step(link, clock, server);
    const ab::Bytes raw = ab::BuildRawTable(Small(name));
    const int32_t total = static_cast<int32_t>(raw.size());
    const int32_t count = (total - 1) / 960 + 1;
    for (int32_t c = 0; c < count; ++c) {
      const size_t from = static_cast<size_t>(c) * 960;
      const size_t len = std::min<size_t>(960, raw.size() - from);
      server.SendTo(kLinkEnd, ab::test::MakeChunk(
                                  ab::kKindFile, ++number, c + 1, count, static_cast<int32_t>(from),
                                  total, std::string_view(reinterpret_cast<const char*>(raw.data()) + from, len)));
    }
    Step(link, clock, server);
  }

  if (!link.TablesReady.load()) {
    std::fprintf(stderr, "the harness did not get the tables loaded\n");
    std::abort();
  }

  Input in{data, size};
  while (in.n > 0) {
    const uint8_t op = in.Byte();
    switch (op % 6) {
      case 0: {  // a known command with fuzzed members
        const char* name = kCommands[in.Byte() % std::size(kCommands)];
        const std::string_view rest = in.Take(in.Byte());
        link.CommandQueue.Push(std::string("{\"$c$\":\"") + name + "\"," + std::string(rest) + "}");
        break;
      }
      case 1:  // any text
        link.CommandQueue.Push(in.Take(static_cast<size_t>(in.Byte()) * 4));
        break;
      case 2: {  // a record message
        const std::string_view r = in.Take(static_cast<size_t>(in.Byte()) * 4);
        link.RecordQueue.Push(reinterpret_cast<const uint8_t*>(r.data()),
                              static_cast<int32_t>(r.size()));
        break;
      }
      case 3: {  // a file chunk with fuzzed placement
        const int32_t count = 1 + in.Byte() % 4;
        const int32_t chunk = in.Byte() % 6;
        const int32_t total = in.Byte() * 16;
        const int32_t offset = in.Byte() * 16 - 64;
        const std::string_view d = in.Take(in.Byte());
        server.SendTo(kLinkEnd, ab::test::MakeChunk(ab::kKindFile, number + (op >> 7 ? 0 : 1),
                                                    chunk, count, offset, total, d));
        if (op >> 7 == 0) ++number;
        break;
      }
      case 4:  // time passes
        clock.Advance(std::chrono::milliseconds(static_cast<int64_t>(in.Byte()) * 250));
        break;
      case 5:  // the picture handler awaits a file
        sync.SetAwaitedFile(std::string(in.Take(in.Byte() % 32)));
        break;
    }
    Step(link, clock, server);
  }
  link.Sync = nullptr;
  box.Check();
  return 0;
}
