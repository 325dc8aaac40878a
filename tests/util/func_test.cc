#include "util/func.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ab {
namespace {

// The scrambling step written the plain way, to check the fast one against.
Bytes ReferenceScramble(Bytes b, size_t count, const KeyTable& t) {
  if (b.size() < 3) return b;
  uint8_t i = b[0], j = b[1];
  for (size_t k = 2; k < 2 + count && k < b.size(); ++k) {
    b[k] ^= t[i] ^ t[j];
    ++i;
    --j;
  }
  return b;
}

Bytes Pattern(size_t size, uint8_t seed0, uint8_t seed1) {
  Bytes b(size);
  for (size_t k = 0; k < size; ++k) b[k] = static_cast<uint8_t>(k * 37 + 11);
  if (size > 0) b[0] = seed0;
  if (size > 1) b[1] = seed1;
  return b;
}

class KeyTableTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetKeyTable1(); }
};

TEST(SetBitTest, Cases) {
  struct Case {
    uint8_t flags;
    int bit;
    uint8_t on;
    uint8_t expected;
  };
  const std::vector<Case> cases = {
      {0, 1, 1, 1},  {255, 8, 0, 127}, {0, 8, 1, 128}, {5, 9, 1, 5},   {5, 0, 1, 5},
      {5, -1, 0, 5}, {4, 3, 2, 0},     {4, 3, 0, 0},   {0, 3, 255, 0}, {1, 1, 1, 1},
  };
  for (const auto& c : cases) {
    uint8_t flags = c.flags;
    SetBit(flags, c.bit, c.on);
    EXPECT_EQ(flags, c.expected) << int{c.flags} << " bit " << c.bit << " on " << int{c.on};
  }
}

TEST(TestBitTest, Cases) {
  struct Case {
    int32_t value;
    int bit;
    bool expected;
  };
  const std::vector<Case> cases = {
      {6, 2, true},   {6, 1, false},   {6, 3, true},  {255, 0, false}, {255, 9, false},
      {128, 8, true}, {256, 1, false}, {-1, 8, true}, {0, 1, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TestBit(c.value, c.bit), c.expected) << c.value << " bit " << c.bit;
  }
}

TEST(ScrambleTest, MatchesThePlainAlgorithmForAllLengthsAndSeeds) {
  const std::vector<std::pair<uint8_t, uint8_t>> seeds = {{0, 0},   {255, 255}, {1, 254},
                                                          {200, 3}, {128, 127}, {7, 0}};
  const std::vector<size_t> sizes = {3, 4, 9, 10, 11, 257, 258, 259, 300, 514, 1017};
  for (uint8_t selector : {1, 2}) {
    for (const auto& [s0, s1] : seeds) {
      for (size_t size : sizes) {
        const Bytes original = Pattern(size, s0, s1);
        Bytes b = original;
        Scramble(b, selector);
        EXPECT_EQ(b, ReferenceScramble(original, size, GetKeyTable(selector)))
            << "selector " << int{selector} << " seeds " << int{s0} << "," << int{s1} << " size "
            << size;
        // Where both indices meet the key bytes cancel, so one payload byte may stay clear.
        if (size > 3) {
          EXPECT_NE(b, original);
        }
        Scramble(b, selector);
        EXPECT_EQ(b, original);
      }
    }
  }
}

TEST(ScrambleTest, NoOpCases) {
  for (size_t size : {0, 1, 2}) {
    const Bytes original = Pattern(size, 3, 4);
    Bytes b = original;
    Scramble(b, 1);
    EXPECT_EQ(b, original) << size;
  }
  for (uint8_t selector : {0, 3, 255}) {
    const Bytes original = Pattern(20, 3, 4);
    Bytes b = original;
    Scramble(b, selector);
    ScramblePrefix(b, 10, selector);
    EXPECT_EQ(b, original) << int{selector};
  }
}

TEST(ScrambleTest, SelectorsUseDifferentTables) {
  Bytes one = Pattern(64, 9, 9), two = one;
  Scramble(one, 1);
  Scramble(two, 2);
  EXPECT_NE(one, two);
}

TEST(ScramblePrefixTest, CoversOnlyTheFirstNPayloadBytes) {
  const Bytes original = Pattern(600, 17, 230);
  const KeyTable& t = GetKeyTable(1);
  for (int32_t n : {-5, 0, 1, 55, 300, 598}) {
    Bytes b = original;
    ScramblePrefix(b, n, 1);
    EXPECT_EQ(b, ReferenceScramble(original, n < 0 ? 0 : static_cast<size_t>(n), t)) << n;
  }
  Bytes whole = original;
  Scramble(whole, 1);
  Bytes prefix = original;
  ScramblePrefix(prefix, static_cast<int32_t>(original.size() - 2), 1);
  EXPECT_EQ(prefix, whole);
  // More than the buffer holds stops at its end.
  Bytes over = original;
  ScramblePrefix(over, 100000, 1);
  EXPECT_EQ(over, whole);
}

TEST(TextToScrambledTest, SeedsThenScrambledText) {
  Bytes b;
  TextToScrambled("abc", b, 1);
  ASSERT_EQ(b.size(), 5u);
  Scramble(b, 1);
  EXPECT_EQ(std::string(b.begin() + 2, b.end()), "abc");

  Bytes long_text_buffer;
  const std::string text(2000, '\xE0');
  TextToScrambled(text, long_text_buffer, 2);
  Scramble(long_text_buffer, 2);
  EXPECT_EQ(std::string(long_text_buffer.begin() + 2, long_text_buffer.end()), text);

  Bytes kept = {1, 2, 3};
  TextToScrambled("", kept, 1);
  EXPECT_EQ(kept, (Bytes{1, 2, 3}));
}

TEST(SeedBytesTest, WritesOnlyTheTwoSeedBytesAndVaries) {
  Bytes single = {42};
  SeedBytes(single);
  EXPECT_EQ(single, Bytes{42});

  std::set<std::pair<uint8_t, uint8_t>> seen;
  for (int k = 0; k < 64; ++k) {
    Bytes b = {0, 0, 7, 8};
    SeedBytes(b);
    EXPECT_EQ(b[2], 7);
    EXPECT_EQ(b[3], 8);
    seen.insert({b[0], b[1]});
  }
  // Back-to-back calls must not repeat one pair (the clock alone would).
  EXPECT_GT(seen.size(), 32u);
}

TEST(SeedBytesTest, ConcurrentCallersEachGetTheirOwnBufferRight) {
  // The link's threads and the table loader scramble at the same time.
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      const std::string text(300 + t, static_cast<char>('a' + t));
      for (int k = 0; k < 200; ++k) {
        Bytes b;
        TextToScrambled(text, b, 1);
        Bytes c(b.size() + 2);
        SeedBytes(c);
        Scramble(b, 1);
        if (std::string(b.begin() + 2, b.end()) != text) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

TEST(TextToBytesTest, CopiesOrKeeps) {
  Bytes b = {9};
  TextToBytes(
      "\x01\xFF"
      "a",
      b);
  EXPECT_EQ(b, (Bytes{1, 255, 'a'}));
  TextToBytes("", b);
  EXPECT_EQ(b, (Bytes{1, 255, 'a'}));
}

TEST(HexTest, HexToBytesCases) {
  struct Case {
    const char* text;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"0aFFz1", {10, 255, 0}},
      {"0a0b0", {10, 11}},
      {"", {}},
      {"7", {}},
      {" 1", {0}},
      {"g0", {0}},
      {"-1", {0}},
      {"00ABff", {0, 171, 255}},
  };
  for (const auto& c : cases) {
    Bytes b = {5, 5, 5, 5, 5};
    HexToBytes(c.text, b);
    EXPECT_EQ(b, c.expected) << c.text;
  }
}

TEST(HexTest, BytesToHexAndBack) {
  EXPECT_EQ(BytesToHex(Bytes{0, 171, 255}), "00ABFF");
  EXPECT_EQ(BytesToHex(Bytes{}), "");
  Bytes all(256);
  for (int k = 0; k < 256; ++k) all[k] = static_cast<uint8_t>(k);
  Bytes back;
  HexToBytes(BytesToHex(all), back);
  EXPECT_EQ(back, all);
}

// splitmix64 and the Fisher-Yates shuffle the built-in tables were made with. The table caches
// on disk depend on these values, so an edit of a constant must not go unnoticed.
KeyTable ShuffledTable(uint64_t state) {
  KeyTable t{};
  for (int k = 0; k < 256; ++k) t[k] = static_cast<uint8_t>(k);
  for (int i = 255; i > 0; --i) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    std::swap(t[i], t[z % static_cast<uint64_t>(i + 1)]);
  }
  return t;
}

TEST_F(KeyTableTest, BuiltInTablesAreTheDocumentedOnes) {
  EXPECT_EQ(GetKeyTable(1), ShuffledTable(0x1251));
  EXPECT_EQ(GetKeyTable(2), ShuffledTable(0x2512));
  EXPECT_EQ(&GetKeyTable(0), &GetKeyTable(1));
  EXPECT_EQ(&GetKeyTable(9), &GetKeyTable(1));
}

TEST_F(KeyTableTest, SetFromHexReplacesTableOneOnly) {
  KeyTable wanted{};
  for (int k = 0; k < 256; ++k) wanted[k] = static_cast<uint8_t>(255 - k);
  std::string hex = BytesToHex(wanted);
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const KeyTable two = GetKeyTable(2);

  ASSERT_TRUE(SetKeyTable1FromHex(hex));
  EXPECT_EQ(GetKeyTable(1), wanted);
  EXPECT_EQ(GetKeyTable(2), two);
  const Bytes original = Pattern(700, 77, 5);
  Bytes b = original;
  Scramble(b, 1);
  EXPECT_EQ(b, ReferenceScramble(original, 698, wanted));

  ResetKeyTable1();
  EXPECT_EQ(GetKeyTable(1), ShuffledTable(0x1251));
}

TEST_F(KeyTableTest, InvalidHexKeepsTheTable) {
  const KeyTable before = GetKeyTable(1);
  const std::string good(512, 'A');
  std::string bad_digit = good;
  bad_digit[300] = 'G';
  std::string inner_blank = good;
  inner_blank[1] = ' ';
  const std::vector<std::string> cases = {
      "", good.substr(2), good + "AA", good + "A", good.substr(1), bad_digit, inner_blank};
  for (const auto& hex : cases) {
    EXPECT_FALSE(SetKeyTable1FromHex(hex)) << hex.size();
    EXPECT_EQ(GetKeyTable(1), before) << hex.size();
  }
}

}  // namespace
}  // namespace ab
