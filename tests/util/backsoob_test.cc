#include "util/backsoob.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <string>

#include "support/outbox_files.h"
#include "support/temp_dir.h"
#include "util/bytes.h"

namespace ab {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Le32;
constexpr auto Rec = &test::OutboxRecord;
constexpr auto Index = &test::OutboxIndex;

class BackSoobTest : public ::testing::Test {
 protected:
  fs::path Dir() const { return dir_.path() / "dd8"; }
  fs::path IndexFile() const { return Dir() / "backsoob.dat"; }
  fs::path Data(int n) const { return Dir() / ("bs" + std::to_string(n) + ".dat"); }

  // A store over files written beforehand, as another program leaves them.
  void Prepare(const std::string& index, const std::string& bs0, const std::string& bs1 = {}) {
    fs::create_directories(Dir());
    test::WriteFileText(IndexFile(), index);
    test::WriteFileText(Data(0), bs0);
    if (!bs1.empty()) test::WriteFileText(Data(1), bs1);
  }
  std::unique_ptr<TBackSoobString> Open() {
    auto s = std::make_unique<TBackSoobString>(dir_.path());
    s->SubDir = "dd8";
    s->SetOpenRetries(2, 0ms);
    s->Load();
    return s;
  }
  // The message, or "<none>" for a false result (which must also leave an empty text).
  static std::string Read(TBackSoobString& s) {
    std::string out = "unset";
    if (s.ReadCurrent(out)) return out;
    EXPECT_EQ(out, "");
    return "<none>";
  }

  test::TempDir dir_;
};

TEST_F(BackSoobTest, FreshFolderGetsAnEmptyIndex) {
  auto s = Open();
  EXPECT_EQ(test::ReadFileText(IndexFile()), Index(0, 0, 0));
  EXPECT_EQ(test::ReadFileText(IndexFile()).substr(0, 4), "\xFF\xFF\xEE\x0F");
  EXPECT_EQ(s->Pending(), 0);
  EXPECT_EQ(Read(*s), "<none>");
}

TEST_F(BackSoobTest, WithoutSubDirNothingIsTouched) {
  TBackSoobString s(dir_.path());
  s.Load();
  EXPECT_TRUE(fs::is_empty(dir_.path()));
  std::string out = "x";
  EXPECT_FALSE(s.ReadCurrent(out));
  EXPECT_EQ(out, "");
  s.RemoveCurrent();
  s.Reset();
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

// An index that no sound store has is replaced by a fresh one; the data files are then ignored.
TEST_F(BackSoobTest, UnusableIndexIsReplaced) {
  const struct {
    const char* name;
    std::string index;
  } cases[] = {
      {"wrong signature", Le32(0x0FEEFFFE) + Le32(1) + Le32(0) + Le32(0)},
      {"too short", Le32(TBackSoobString::kSignature) + Le32(1)},
      {"empty", ""},
      {"read after write", Index(1, 2, 1)},
      {"negative pending", Index(-3, 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(c.index, Rec("a"));
    auto s = Open();
    EXPECT_EQ(s->Pending(), 0);
    EXPECT_EQ(test::ReadFileText(IndexFile()), Index(0, 0, 0));
  }
}

TEST_F(BackSoobTest, TwoRecordsInOneFileAreSentInOrder) {
  Prepare(Index(2, 0, 0), Rec("{\"a\":1}") + Rec("{\"b\":2}"));
  auto s = Open();
  EXPECT_EQ(s->Pending(), 2);
  EXPECT_EQ(Read(*s), "{\"a\":1}");
  EXPECT_EQ(Read(*s), "{\"a\":1}");  // reading does not consume
  s->RemoveCurrent();
  EXPECT_EQ(test::ReadFileText(Data(0)), Rec("{\"b\":2}"));
  EXPECT_EQ(test::ReadFileText(IndexFile()), Index(1, 0, 0));
  EXPECT_EQ(Read(*s), "{\"b\":2}");
  s->RemoveCurrent();
  EXPECT_EQ(s->Pending(), 0);
  ASSERT_TRUE(fs::exists(Data(0)));  // stays for the producer to append to
  EXPECT_EQ(fs::file_size(Data(0)), 0u);
  EXPECT_EQ(test::ReadFileText(IndexFile()), Index(0, 0, 0));
  s->RemoveCurrent();  // nothing pending: nothing happens
  EXPECT_EQ(test::ReadFileText(IndexFile()), Index(0, 0, 0));
}

TEST_F(BackSoobTest, EmptiedFileMovesTheReaderToTheNextOne) {
  Prepare(Index(2, 0, 1), Rec("first"), Rec("second"));
  auto s = Open();
  EXPECT_EQ(Read(*s), "first");
  s->RemoveCurrent();
  EXPECT_FALSE(fs::exists(Data(0)));
  EXPECT_EQ(s->ReadIndex(), 1);
  EXPECT_EQ(test::ReadFileText(IndexFile()), Index(1, 1, 1));
  EXPECT_EQ(Read(*s), "second");
}

// Damaged or unusual contents of the current file: what is read first, and what the file holds
// once that record is removed. A sound record after a damaged one survives the removal.
TEST_F(BackSoobTest, DamagedRecordsNeverHideTheSoundOnesBehindThem) {
  const std::string long_text(255, 'x');  // its length field starts with FF
  const struct {
    const char* name;
    std::string file;
    std::string first;
    std::string after_remove;
  } cases[] = {
      {"stray bytes first", "junk" + Rec("a"), "a", ""},
      {"end marker then start marker", "\xFE\xFF" + Rec("a") + Rec("b"), "a", Rec("b")},
      {"a third FF before the marker", "\xFF" + Rec("a"), "a", ""},
      {"FE before a length that starts with FF", "\xFE" + Rec(long_text), long_text, ""},
      {"message holding FF FF", "z" + Rec("\xFF\xFF"), "\xFF\xFF", ""},
      {"end marker missing", "\xFF\xFF" + Le32(3) + "abc" + Rec("next"), "<none>", Rec("next")},
      {"length past the end", "\xFF\xFF" + Le32(1000) + "abc" + Rec("next"), "<none>", Rec("next")},
      {"length past the end, alone", "\xFF\xFF" + Le32(1000) + "abc", "<none>", ""},
      {"negative length", "\xFF\xFF" + Le32(-6) + "\xFE\xFF", "<none>", ""},
      {"length field cut short", "\xFF\xFF\x01", "<none>", ""},
      {"no start marker at all", "just text\xFE\xFF", "<none>", ""},
      {"length 0", Rec("") + Rec("b"), "", Rec("b")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(Index(2, 0, 0), c.file);
    auto s = Open();
    EXPECT_EQ(Read(*s), c.first);
    s->RemoveCurrent();
    EXPECT_EQ(test::ReadFileText(Data(0)), c.after_remove);
    EXPECT_EQ(s->Pending(), 1);
  }
}

TEST_F(BackSoobTest, AMessageReadButNotRemovedIsReadAgainAfterARestart) {
  Prepare(Index(2, 0, 0), "xx" + Rec("a") + Rec("b"));
  auto first = Open();
  EXPECT_EQ(Read(*first), "a");
  first.reset();
  auto again = Open();
  EXPECT_EQ(Read(*again), "a");
  again->RemoveCurrent();
  EXPECT_EQ(Read(*again), "b");
}

TEST_F(BackSoobTest, EmptyCurrentFileResetsTheStore) {
  Prepare(Index(3, 0, 0), "");
  auto s = Open();
  EXPECT_EQ(Read(*s), "<none>");
  EXPECT_EQ(s->Pending(), 0);
  EXPECT_FALSE(fs::exists(Data(0)));
  EXPECT_EQ(test::ReadFileText(IndexFile()), Index(0, 0, 0));
}

// An empty or missing file with later files behind it (left so by a stop between truncation
// and the index update) is skipped, not taken as a reason to delete the later files.
TEST_F(BackSoobTest, SpentFileBeforeLaterOnesIsSkipped) {
  for (const bool missing : {false, true}) {
    SCOPED_TRACE(missing ? "missing" : "empty");
    Prepare(Index(1, 0, 1), "", Rec("later"));
    if (missing) fs::remove(Data(0));
    auto s = Open();
    EXPECT_EQ(Read(*s), "later");
    EXPECT_EQ(test::ReadFileText(IndexFile()), Index(1, 1, 1));
    EXPECT_FALSE(fs::exists(Data(0)));
  }
}

TEST_F(BackSoobTest, FileThatCannotBeOpenedCountsTheRemovalInMemoryOnly) {
  Prepare(Index(2, 0, 0), "");
  fs::remove(Data(0));
  fs::create_directory(Data(0));  // exists, but no open succeeds
  auto s = Open();
  EXPECT_EQ(Read(*s), "<none>");
  s->RemoveCurrent();
  EXPECT_EQ(s->Pending(), 1);
  EXPECT_EQ(test::ReadFileText(IndexFile()), Index(2, 0, 0));
}

TEST_F(BackSoobTest, ResetDeletesOnlyTheStoresFilesAndIsBounded) {
  Prepare(Index(5, 0, INT_MAX), Rec("a"), Rec("b"));
  test::WriteFileText(Dir() / "bs7.dat", Rec("c"));
  test::WriteFileText(Dir() / "bs07.dat", "not ours");
  test::WriteFileText(Dir() / "notes.dat", "not ours");
  auto s = Open();
  s->Reset();
  EXPECT_FALSE(fs::exists(Data(0)));
  EXPECT_FALSE(fs::exists(Data(1)));
  EXPECT_FALSE(fs::exists(Dir() / "bs7.dat"));
  EXPECT_TRUE(fs::exists(Dir() / "bs07.dat"));
  EXPECT_TRUE(fs::exists(Dir() / "notes.dat"));
  EXPECT_EQ(test::ReadFileText(IndexFile()), Index(0, 0, 0));
  EXPECT_EQ(s->Pending(), 0);
  EXPECT_EQ(s->WriteIndex(), 0);
}

}  // namespace
}  // namespace ab
