#include "link/reassembly.h"

#include <gtest/gtest.h>

#include <string>

namespace ab {
namespace {

DatagramHeader Chunk(int64_t number, int32_t chunk, int32_t count, int32_t offset, int32_t total) {
  DatagramHeader h;
  h.MessageNumber = number;
  h.ChunkNumber = chunk;
  h.ChunkCount = count;
  h.ChunkOffset = offset;
  h.TotalSize = total;
  return h;
}

std::span<const uint8_t> Data(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

using R = Reassembly::Result;

TEST(ReassemblyTest, OutOfOrderAndRepeatedChunksComplete) {
  Reassembly r;
  const std::string a = "abc", b = "def", c = "g";
  EXPECT_EQ(r.Add(Chunk(4, 3, 3, 6, 7), Data(c)), R::kPartial);
  EXPECT_EQ(r.Add(Chunk(4, 1, 3, 0, 7), Data(a)), R::kPartial);
  EXPECT_EQ(r.Add(Chunk(4, 1, 3, 0, 7), Data(a)), R::kPartial);
  EXPECT_EQ(r.Add(Chunk(4, 2, 3, 3, 7), Data(b)), R::kComplete);
  EXPECT_EQ(std::string(r.Data().begin(), r.Data().end()), "abcdefg");
  r.Clear();
  EXPECT_FALSE(r.Active());
}

TEST(ReassemblyTest, RejectsChunksThatDoNotFit) {
  const std::string two = "xy";
  struct Case {
    const char* name;
    DatagramHeader h;
    std::string data;
  };
  const Case cases[] = {
      {"chunk number 0", Chunk(1, 0, 2, 0, 4), two},
      {"chunk number above count", Chunk(1, 3, 2, 0, 4), two},
      {"negative offset", Chunk(1, 1, 2, -1, 4), two},
      {"data past the end", Chunk(1, 2, 2, 3, 4), two},
      {"offset near INT32_MAX", Chunk(1, 2, 2, 0x7FFFFFFF, 4), two},
      {"no data", Chunk(1, 1, 2, 0, 4), ""},
      {"size above the cap", Chunk(1, 1, 2, 0, kMaxMessageSize + 1), two},
      {"negative size", Chunk(1, 1, 2, 0, -4), two},
      {"more chunks than bytes", Chunk(1, 1, 5, 0, 4), two},
  };
  for (const Case& c : cases) {
    Reassembly r;
    EXPECT_EQ(r.Add(c.h, Data(c.data)), R::kRejected) << c.name;
    EXPECT_FALSE(r.Active()) << c.name;
  }
}

TEST(ReassemblyTest, ChunkOfAnotherMessageRestartsInsteadOfMerging) {
  Reassembly r;
  EXPECT_EQ(r.Add(Chunk(10, 1, 2, 0, 4), Data("AA")), R::kPartial);
  // After a reset the server starts a new message 3 of the same shape.
  EXPECT_EQ(r.Add(Chunk(3, 2, 2, 2, 4), Data("bb")), R::kPartial);
  EXPECT_EQ(r.MessageNumber(), 3);
  EXPECT_EQ(r.Add(Chunk(3, 1, 2, 0, 4), Data("aa")), R::kComplete);
  EXPECT_EQ(std::string(r.Data().begin(), r.Data().end()), "aabb");
}

}  // namespace
}  // namespace ab
