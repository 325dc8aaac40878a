#include "link/datagram.h"

#include <gtest/gtest.h>

#include "link/completion_map.h"
#include "link_test_util.h"
#include "util/func.h"

namespace ab {
namespace {

DatagramHeader SampleHeader() {
  DatagramHeader h;
  h.Kind = kKindRecord;
  h.PayloadLength = 0;
  h.Reserved = {1, 2, 3, 4, 5, 6, 7, 8};
  h.ChunkOffset = 1920;
  h.TotalSize = 5000;
  h.MessageNumber = 0x0102030405060708LL;
  h.ChunkCount = 6;
  h.ChunkNumber = 3;
  for (int i = 0; i < 16; ++i)
    h.ConnectionId[static_cast<size_t>(i)] = static_cast<uint8_t>(0xA0 + i);
  return h;
}

TEST(DatagramTest, PrefixRoundTripsAndIsScrambledLittleEndian) {
  DatagramHeader h = SampleHeader();
  Bytes d(kPrefixSize);
  EncodePrefix(h, d);
  auto back = DecodePrefix(d);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, h);

  // Unscrambled by hand, every field sits at its offset, low byte first.
  Bytes clear = d;
  ScramblePrefix(clear, kHeaderSize, kKeyTableLink);
  EXPECT_EQ(clear[2], 0xAA);
  EXPECT_EQ(clear[3], 0xFF);
  EXPECT_EQ(clear[4], kKindRecord);
  EXPECT_EQ(GetI32(&clear[17]), 1920);
  EXPECT_EQ(clear[25], 0x08);  // low word of the message number first
  EXPECT_EQ(clear[32], 0x01);
  EXPECT_EQ(GetI32(&clear[37]), 3);
  EXPECT_EQ(clear[41], 0xA0);
  EXPECT_EQ(clear[56], 0xAF);
}

TEST(DatagramTest, AcceptanceTests) {
  struct Case {
    const char* name;
    size_t length;
    int32_t payload_length;
    bool bad_magic;
    bool accepted;
  };
  const Case cases[] = {
      {"56 bytes", 56, -1, false, false},
      {"57 bytes, empty payload", 57, 0, false, true},
      {"1499 bytes", 1499, 1442, false, true},
      {"1500 bytes", 1500, 1443, false, false},
      {"length one short", 100, 44, false, false},
      {"length one over", 100, 42, false, false},
      {"huge PayloadLength", 100, 0x7FFFFFFF, false, false},
      {"negative PayloadLength", 100, -1, false, false},
      {"wrong magic", 100, 43, true, false},
  };
  for (const Case& c : cases) {
    Bytes d(c.length, 0x55);
    if (c.length >= 57) {
      DatagramHeader h;
      h.PayloadLength = c.payload_length;
      EncodePrefix(h, d);
      if (c.bad_magic) {
        // Flip a magic byte under the scrambling.
        ScramblePrefix(std::span<uint8_t>(d).first(57), kHeaderSize, kKeyTableLink);
        d[3] = 0xFE;
        ScramblePrefix(std::span<uint8_t>(d).first(57), kHeaderSize, kKeyTableLink);
      }
    }
    EXPECT_EQ(DecodePrefix(d).has_value(), c.accepted) << c.name;
  }
}

TEST(DatagramTest, AckEchoesTheHeaderUnderNewKeys) {
  DatagramHeader h = SampleHeader();
  h.Kind = kKindText;
  h.PayloadLength = 100;
  Bytes ack(kPrefixSize);
  BuildAck(h, ack);
  auto back = DecodePrefix(ack);
  ASSERT_TRUE(back.has_value());
  DatagramHeader expected = h;
  expected.Kind = kKindAck;
  expected.PayloadLength = 0;
  EXPECT_EQ(*back, expected);
}

TEST(DatagramTest, PayloadScramblingIsItsOwnInverse) {
  Bytes p = {7, 9, 'a', 'b', 'c', 'd'};
  Bytes original = p;
  UnscramblePayload(p);
  EXPECT_NE(p, original);
  UnscramblePayload(p);
  EXPECT_EQ(p, original);
  Bytes two = {1, 2};
  UnscramblePayload(two);
  EXPECT_EQ(two, (Bytes{1, 2}));
}

TEST(CompletionMapTest, NineChunksHaveTwoBytesTheSecondStartingAtFE) {
  CompletionMap m(9);
  ASSERT_EQ(m.Map().size(), 2u);
  EXPECT_EQ(m.Map()[0], 0x00);
  EXPECT_EQ(m.Map()[1], 0xFE);
  for (int q = 1; q <= 8; ++q) EXPECT_TRUE(m.Set(q));
  EXPECT_EQ(m.Map()[0], 0xFF);
  EXPECT_FALSE(m.Complete());
  EXPECT_TRUE(m.Set(9));
  EXPECT_TRUE(m.Complete());
}

TEST(CompletionMapTest, OutOfRangeChunksChangeNothing) {
  for (int count : {1, 8, 16, 17}) {
    CompletionMap m(count);
    const Bytes before = m.Map();
    EXPECT_FALSE(m.Set(0));
    EXPECT_FALSE(m.Set(-5));
    EXPECT_FALSE(m.Set(count + 1));
    EXPECT_EQ(m.Map(), before) << count;
    for (int q = count; q >= 1; --q) m.Set(q);
    m.Set(count);  // repeat
    EXPECT_TRUE(m.Complete()) << count;
  }
}

}  // namespace
}  // namespace ab
