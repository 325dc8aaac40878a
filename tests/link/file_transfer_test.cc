#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "link/archive_store.h"
#include "link/link_sync.h"
#include "link/safe_names.h"
#include "sync_fixture.h"
#include "util/bytes.h"

namespace ab {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::MakeChunk;
using test::MakeText;
using test::ReadFileText;
using test::WriteFileText;

class FileTransferTest : public test::SyncFixture {
 protected:
  void SetUp() override {
    Make(false);
    Accept();
    Events();
    SentTexts();
  }
  void Announce(const std::string& name) {
    Command("{\"$c$\":\"sendfile\",\"name\":\"" + name + "\"}");
  }
  void Chunk(int32_t chunk, int32_t count, int32_t offset, int32_t total, std::string_view data) {
    FromServer(MakeChunk(kKindFile, ++number, chunk, count, offset, total, data));
    Step();
  }
};

TEST_F(FileTransferTest, EmptyFileIsCreatedEmptyAndReported) {
  ServeFile("empty.bin", "");
  ASSERT_TRUE(fs::exists(Temp("empty.bin")));
  EXPECT_EQ(fs::file_size(Temp("empty.bin")), 0u);
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"getfileok\",\"name\":\"empty.bin\"}"});
}

TEST_F(FileTransferTest, ChunksInAnyOrderWithADuplicateMakeTheFileOnce) {
  const std::string body = std::string(960, 'a') + std::string(960, 'b') + "tail";
  Announce("d.bin");
  EXPECT_EQ(SentTexts(), std::vector<std::string>{"{\"$c$\":\"startrecivefile\"}"});
  Chunk(3, 3, 1920, 1924, "tail");
  Chunk(1, 3, 0, 1924, body.substr(0, 960));
  EXPECT_EQ(link->LoadPercent.load(), 0);  // one map byte, not yet full
  Chunk(1, 3, 0, 1924, body.substr(0, 960));
  EXPECT_EQ(link->DuplicateChunks.load(), 1);
  EXPECT_TRUE(Events().empty());
  Chunk(2, 3, 960, 1924, body.substr(960, 960));
  EXPECT_EQ(link->LoadPercent.load(), 100);
  EXPECT_EQ(ReadFileText(Temp("d.bin")), body);
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"getfileok\",\"name\":\"d.bin\"}"});
  EXPECT_EQ(link->DuplicateChunks.load(), 1);
  // A late repeat of a chunk of the finished file is ignored.
  FromServer(MakeChunk(kKindFile, number, 2, 3, 960, 1924, "zzzz"));
  Step();
  EXPECT_EQ(ReadFileText(Temp("d.bin")), body);
}

TEST_F(FileTransferTest, TheAwaitedFileRaisesItsFlagAndStays) {
  sync->SetAwaitedFile("pic7.bmp");
  ServeFile("other.bmp", "x");
  EXPECT_FALSE(sync->FileArrived.load());
  ServeFile("pic7.bmp", "BM..");
  EXPECT_TRUE(sync->FileArrived.load());
  EXPECT_EQ(ReadFileText(Temp("pic7.bmp")), "BM..");
}

TEST_F(FileTransferTest, TheEleventhAnnouncementWithoutDataResetsWithCode12) {
  for (int i = 0; i < 10; ++i) Announce("slow.bin");
  EXPECT_TRUE(link->Registered.load());
  EXPECT_TRUE(Events().empty());
  Announce("slow.bin");
  EXPECT_FALSE(link->Registered.load());
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"disconnected\",\"p\":12}"});
  EXPECT_EQ(SentTexts().size(), 11u);
  EXPECT_EQ(sync->Receiver().Announcements(), 0);
}

TEST_F(FileTransferTest, DataWithoutAnnouncementResetsWithCode4) {
  Chunk(1, 1, 0, 3, "abc");
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"disconnected\",\"p\":4}"});
}

TEST_F(FileTransferTest, AnnouncementDuringReceptionResetsWithoutNotice) {
  Announce("big.bin");
  Chunk(1, 2, 0, 1000, std::string(960, 'x'));
  Announce("other.bin");
  EXPECT_FALSE(link->Registered.load());
  EXPECT_TRUE(Events().empty());
  EXPECT_FALSE(sync->Receiver().Receiving());
  EXPECT_EQ(fs::file_size(Temp("big.bin")), 1000u);  // the partial file stays
}

TEST_F(FileTransferTest, NamesLeavingTempAreRefusedAndNothingIsWritten) {
  const std::string outside = "ab-outside-" + std::to_string(std::random_device{}());
  const std::vector<std::pair<std::string, fs::path>> cases = {
      {"../" + outside, dir.path() / outside},
      {"..", dir.path() / "temp" / ".."},
      {"sub/" + outside, dir.path() / "temp" / "sub" / outside},
      {"..\\\\" + outside, dir.path() / outside},
      {"/tmp/" + outside, fs::path("/tmp") / outside},
      {"C:" + outside, dir.path() / "temp" / ("C:" + outside)},
      {"a..b", dir.path() / "temp" / "a..b"},
  };
  for (const auto& [name, target] : cases) {
    SCOPED_TRACE(name);
    Accept();
    Events();
    Announce(name);
    Chunk(1, 1, 0, 4, "evil");
    EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"disconnected\",\"p\":3}"});
    EXPECT_FALSE(fs::is_regular_file(target));
  }
  EXPECT_FALSE(fs::exists(dir.path() / outside));
  EXPECT_FALSE(fs::exists(dir.path() / "temp" / "sub"));
  bool logged = false;
  for (const auto& l : LogLines()) logged |= l.rfind("file name refused: ", 0) == 0;
  EXPECT_TRUE(logged);
}

TEST_F(FileTransferTest, ChunkBeyondTheFileSizeIsRefused) {
  Announce("s.bin");
  Chunk(2, 2, 960, 1000, std::string(100, 'x'));
  EXPECT_EQ(fs::file_size(Temp("s.bin")), 1000u);
  Chunk(1, 2, 0, 1000, std::string(960, 'k'));
  EXPECT_TRUE(Events().empty());  // the refused chunk 2 was not counted
  Chunk(2, 2, 960, 1000, std::string(40, 'm'));
  EXPECT_EQ(ReadFileText(Temp("s.bin")), std::string(960, 'k') + std::string(40, 'm'));
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"getfileok\",\"name\":\"s.bin\"}"});
}

std::string Archive(const std::string& name, const std::string& m, const std::string& p,
                    const std::string& z) {
  std::string d(kArchiveDescriptorSize, '\0');
  d[0] = static_cast<char>(name.size());
  d.replace(1, name.size(), name);
  auto put = [&](int at, size_t v) {
    PutI32(reinterpret_cast<uint8_t*>(d.data()) + at, static_cast<int32_t>(v));
  };
  put(35, m.size());
  put(43, p.size());
  put(51, z.size());
  return d + m + p + z;
}

TEST_F(FileTransferTest, ArchivesGoToFoldersOfTheirDate) {
  const fs::path server = dir.path() / "temp" / "10.0.0.1-5000";
  struct Case {
    std::string name;
    fs::path folder;
  };
  const std::vector<Case> cases = {
      {"obj_2024", "2024"},
      {"obj_202403", fs::path("2024") / "03"},
      {"obj_20240315", fs::path("2024") / "03"},
  };
  // An older flat copy is moved out of the way and replaced.
  WriteFileText(server / "obj_2024.fz8", "old");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Command("{\"$c$\":\"getarchiveok\",\"name\":\"x\",\"filename\":\"arh\\\\" + c.name + ".a\"}");
    ServeFile(c.name + ".a", Archive(c.name, "MMMM", "PP", "ZZZZZZ"));
    const fs::path base = server / c.folder / c.name;
    EXPECT_EQ(ReadFileText(base.string() + ".fm8"), "MMMM");
    EXPECT_EQ(ReadFileText(base.string() + ".fp8"), "PP");
    EXPECT_EQ(ReadFileText(base.string() + ".fz8"), "ZZZZZZ");
    EXPECT_FALSE(fs::exists(Temp(c.name + ".a")));
    EXPECT_EQ(Events(),
              std::vector<std::string>{"{\"$c$\":\"archiveload\",\"name\":\"" + c.name + "\"}"});
    EXPECT_EQ(sync->AwaitedArchive(), "");
  }
  EXPECT_FALSE(fs::exists(server / "obj_2024.fz8"));
}

TEST_F(FileTransferTest, ArchiveWhoseInnerNameLeavesItsFolderIsNotStored) {
  const std::string outside = "ab-arc-" + std::to_string(std::random_device{}());
  Command("{\"$c$\":\"getarchiveok\",\"filename\":\"a.arc\"}");
  ServeFile("a.arc", Archive("../../" + outside, "M", "P", "Z"));
  EXPECT_TRUE(Events().empty());  // no archiveload for what was not stored
  EXPECT_FALSE(fs::exists(Temp("a.arc")));
  EXPECT_FALSE(fs::exists(dir.path() / (outside + ".fm8")));
  EXPECT_FALSE(fs::exists(dir.path().parent_path() / (outside + ".fm8")));
}

TEST(ArchiveDatedPathTest, FolderFromThePartAfterTheFirstUnderscore) {
  EXPECT_EQ(ArchiveDatedPath("a_2024"), fs::path("2024") / "a_2024");
  EXPECT_EQ(ArchiveDatedPath("a_b_202412"), fs::path("b_20") / "24" / "a_b_202412");
  EXPECT_EQ(ArchiveDatedPath("2024"), fs::path("2024") / "2024");
  EXPECT_EQ(ArchiveDatedPath("x_20"), fs::path("20") / "x_20");
}

// Sending needs a registered, enabled link.
class FileSendTest : public test::SyncFixture {
 protected:
  void SetUp() override {
    Make(false, false);  // no queue request to hold up the window
    link->SetEnabled(true);
    Step();
    FromServer(MakeText(1, std::string("{\"$c$\":\"regok\",\"tid\":\"") + test::kSyncTid +
                               "\",\"version\":\"1\"}"));
    Step();
    ASSERT_TRUE(link->Registered.load());
    Events();
    Take();
  }
  struct Sent {
    std::vector<std::string> texts;     // file offers only
    std::vector<test::Decoded> chunks;  // kind 1
  };
  Sent Take() {
    Sent s;
    MemoryDatagram d;
    while (server->Take(d)) {
      auto dec = test::Decode(d.Data);
      if (dec.Header.Kind == kKindFile) s.chunks.push_back(dec);
      if (dec.Header.Kind == kKindText && JsonGetValue(dec.Data, "$c$") == "sendfile") {
        s.texts.push_back(dec.Data);
      }
    }
    return s;
  }
  // Acknowledges chunks until the transfer completes; returns the file as the server got it.
  std::string AckAll() {
    std::map<int32_t, std::string> got;
    for (int round = 0; round < 20 && link->Window.TransferActive; ++round) {
      for (const auto& c : Take().chunks) {
        got[c.Header.ChunkOffset] = c.Data;
        FromServer(test::MakeAck(c.Header.MessageNumber, c.Header.ChunkNumber));
      }
      Step();
    }
    std::string file;
    for (const auto& [offset, data] : got) file += data;
    return file;
  }
  int64_t next = 2;
};

TEST_F(FileSendTest, OfferRepeatsUntilAcceptedThenTheFileGoesOut) {
  const std::string body(1500, 'q');
  WriteFileText(dir.path() / "out" / "f.txt", body);
  ASSERT_TRUE(link->FileQueue.Push("{\"name\":\"out\\\\f.txt\",\"nameinserv\":\"srv\\\\f.txt\"}"));
  Step();
  const std::string offer = std::string("{\"$c$\":\"sendfile\",\"name\":\"out\\\\f.txt\",") +
                            "\"nameinserv\":\"srv\\\\f.txt\",\"tid\":\"" + test::kSyncTid + "\"}";
  EXPECT_EQ(Take().texts, std::vector<std::string>{offer});
  Advance(std::chrono::milliseconds(SendWindow::kMinResendMs + 1));
  EXPECT_EQ(Take().texts, std::vector<std::string>{offer});
  EXPECT_TRUE(link->FileQueue.NotEmpty());

  FromServer(MakeText(next++, "{\"$c$\":\"startrecivefile\"}"));
  Step();
  EXPECT_EQ(AckAll(), body);
  EXPECT_FALSE(link->FileQueue.NotEmpty());
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"sendfileok\",\"name\":\"out\\\\f.txt\","
                                               "\"nameinserv\":\"srv\\\\f.txt\",\"size\":1500}"});
}

TEST_F(FileSendTest, EmptyFileIsOneChunkWithoutData) {
  WriteFileText(dir.path() / "e.txt", "");
  ASSERT_TRUE(link->FileQueue.Push("{\"name\":\"e.txt\",\"nameinserv\":\"e\"}"));
  Step();
  Take();
  FromServer(MakeText(next++, "{\"$c$\":\"startrecivefile\"}"));
  Step();
  const auto sent = Take();
  ASSERT_EQ(sent.chunks.size(), 1u);
  EXPECT_EQ(sent.chunks[0].Header.PayloadLength, 2);
  EXPECT_EQ(sent.chunks[0].Header.ChunkCount, 1);
  FromServer(test::MakeAck(sent.chunks[0].Header.MessageNumber, 1));
  Step();
  EXPECT_EQ(Events(),
            std::vector<std::string>{
                "{\"$c$\":\"sendfileok\",\"name\":\"e.txt\",\"nameinserv\":\"e\",\"size\":0}"});
}

TEST_F(FileSendTest, PathsOutsideTheWorkingDirectoryAreDroppedLikeMissingFiles) {
  const fs::path secret =
      dir.path().parent_path() / ("ab-secret-" + std::to_string(std::random_device{}()));
  WriteFileText(secret, "secret");
  fs::create_directories(dir.path() / "in");
  fs::create_symlink(secret, dir.path() / "in" / "link.txt");
  const std::vector<std::string> names = {
      "../" + secret.filename().string(),
      secret.string(),
      "in\\\\..\\\\..\\\\" + secret.filename().string(),
      "in/link.txt",
      "missing.txt",
  };
  for (const auto& n : names) {
    ASSERT_TRUE(link->FileQueue.Push("{\"name\":\"" + n + "\",\"nameinserv\":\"x\"}"));
  }
  Step();
  EXPECT_FALSE(link->FileQueue.NotEmpty());
  EXPECT_FALSE(link->Window.TransferActive);
  const auto sent = Take();
  EXPECT_TRUE(sent.texts.empty());
  EXPECT_TRUE(sent.chunks.empty());
  int refused = 0;
  for (const auto& l : LogLines()) refused += l.rfind("file to send refused: ", 0) == 0;
  EXPECT_EQ(refused, 4);
  fs::remove(secret);
}

TEST(LocalPathInsideTest, KeepsPlainRelativePathsOnly) {
  test::TempDir d;
  EXPECT_EQ(LocalPathInside(d.path(), "a\\b.txt"), fs::weakly_canonical(d.path()) / "a" / "b.txt");
  EXPECT_EQ(LocalPathInside(d.path(), "./c.txt"), fs::weakly_canonical(d.path()) / "c.txt");
  for (const char* bad : {"", ".", "/etc/passwd", "C:\\x", "a/../../b", "..", "x\\..\\..\\y"}) {
    EXPECT_FALSE(LocalPathInside(d.path(), bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace ab
