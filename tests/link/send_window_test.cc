#include "link/send_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/datagram.h"
#include "util/clock.h"
#include "util/func.h"

namespace ab {
namespace {

constexpr uint64_t kMs = kTicksPerMs;
constexpr uint64_t kT0 = 1'000'000 * kMs;  // an arbitrary start, far from 0

struct Sent {
  uint32_t Number;
  uint32_t Offset;
  size_t Bytes;
  uint64_t At;
};

class SendWindowTest : public ::testing::Test {
 protected:
  SendWindow w{kTicksPerMs};
  std::vector<Sent> sent;
  bool Resend(uint64_t now) {
    return w.Resend(now, [&](const SendSlot& s) {
      sent.push_back({s.Number, s.Offset, s.Data.size(), now});
    });
  }
};

TEST_F(SendWindowTest, ChunkingAt960And961Bytes) {
  w.StartMessage(std::string(960, 'x'), 7);
  EXPECT_EQ(w.TransferChunks, 1);
  EXPECT_EQ(w.FillMessage(), 1);
  ASSERT_TRUE(Resend(kT0));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Bytes, 962u);

  w.Reset();
  sent.clear();
  std::string text(961, 'y');
  text[960] = 'z';
  w.StartMessage(text, 8);
  EXPECT_EQ(w.TransferChunks, 2);
  EXPECT_EQ(w.FillMessage(), 2);
  ASSERT_TRUE(Resend(kT0));
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].Number, 2u);
  EXPECT_EQ(sent[1].Offset, 960u);
  EXPECT_EQ(sent[1].Bytes, 3u);
  // The chunk's data is scrambled once under its own key.
  Bytes payload = w.Slots()[1].Data;
  Scramble(payload, kKeyTableLink);
  EXPECT_EQ(payload[2], 'z');
}

TEST_F(SendWindowTest, UnacknowledgedChunkIsSentTwentyTimesRtoApartThenGivenUp) {
  w.Rto = 300;
  w.StartMessage("hello", 1);
  w.FillMessage();
  uint64_t now = kT0;
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(Resend(now));
    ASSERT_TRUE(Resend(now + 299 * kMs));  // not yet due
    now += 300 * kMs;
  }
  ASSERT_EQ(sent.size(), 20u);
  for (size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i].At - sent[i - 1].At, 300 * kMs);
  EXPECT_FALSE(Resend(now));  // the 21st due send
  EXPECT_EQ(sent.size(), 20u);
}

TEST_F(SendWindowTest, AcknowledgementsMatchNumberAndChunk) {
  w.StartMessage(std::string(3000, 'a'), 5);
  w.FillMessage();
  ASSERT_TRUE(Resend(kT0));
  EXPECT_FALSE(w.OnAck(6, 1, kT0 + 10 * kMs));  // other message
  EXPECT_FALSE(w.OnAck(5, 9, kT0 + 10 * kMs));  // no such chunk
  EXPECT_EQ(w.SampleCount, 0u);
  for (int c = 1; c <= 4; ++c) EXPECT_TRUE(w.OnAck(5, c, kT0 + 25 * kMs));
  EXPECT_FALSE(w.OnAck(5, 2, kT0 + 26 * kMs));  // late duplicate
  EXPECT_EQ(w.LastSample, 25u);
  EXPECT_EQ(w.SampleCount, 4u);
  EXPECT_TRUE(w.Complete());
}

TEST_F(SendWindowTest, SampleIsAtLeastOneMillisecond) {
  w.StartMessage("x", 1);
  w.FillMessage();
  Resend(kT0);
  w.OnAck(1, 1, kT0 + kMs / 2);
  EXPECT_EQ(w.LastSample, 1u);
}

TEST_F(SendWindowTest, AdaptationNumbers) {
  struct Case {
    uint32_t sample_ms;
    uint32_t rto;
    int32_t window;
  };
  for (const Case c : {Case{30, 180, 192}, Case{40, 240, 216}}) {
    SendWindow v(kTicksPerMs);
    v.LastAdaptTime = kT0;
    v.StartMessage(std::string(960 * 1000, 'm'), 1);
    v.FillMessage();
    v.Resend(kT0, [](const SendSlot&) {});
    for (uint32_t chunk = 1; chunk <= 101; ++chunk) {
      ASSERT_TRUE(v.OnAck(1, static_cast<int32_t>(chunk), kT0 + c.sample_ms * kMs));
    }
    v.Adapt(kT0 + 1000 * kMs);  // not more than a second yet
    EXPECT_EQ(v.Rto, SendWindow::kInitialRto);
    v.Adapt(kT0 + 1001 * kMs);
    EXPECT_EQ(v.Rto, c.rto) << c.sample_ms;
    EXPECT_EQ(v.WindowSize(), c.window) << c.sample_ms;
    EXPECT_EQ(v.SampleCount, 0u);
  }
}

TEST_F(SendWindowTest, ShrinkKeepsChunksInFlightBeyondTheWindow) {
  w.SetWindowSize(250);
  w.StartMessage(std::string(960 * 300, 's'), 3);
  EXPECT_EQ(w.FillMessage(), 250);
  Resend(kT0);
  // Free some low slots, then shrink back: the chunks in slots 192..249 must survive.
  for (int c = 1; c <= 10; ++c) w.OnAck(3, c, kT0 + 5 * kMs);
  w.SetWindowSize(192);
  EXPECT_EQ(w.WindowSize(), 192);
  EXPECT_EQ(w.Slots().size(), 250u);
  sent.clear();
  ASSERT_TRUE(Resend(kT0 + 5000 * kMs));
  EXPECT_EQ(sent.size(), 240u);  // every unacknowledged chunk is still resent
  // New chunks go only into free slots inside the window.
  EXPECT_EQ(w.FillMessage(), 10);
  for (size_t i = 192; i < 250; ++i) EXPECT_EQ(w.Slots()[i].Number, static_cast<uint32_t>(i + 1));
  // Acknowledging the tail trims the slot array to the window.
  for (int c = 193; c <= 250; ++c) w.OnAck(3, c, kT0 + 5001 * kMs);
  EXPECT_EQ(w.Slots().size(), 192u);
}

TEST_F(SendWindowTest, RtoBelowFloorStillSpacesResends) {
  w.OnRegistered(0);
  EXPECT_EQ(w.Rto, 0u);
  w.StartMessage("x", 1);
  w.FillMessage();
  Resend(kT0);
  Resend(kT0 + 1 * kMs);
  Resend(kT0 + (SendWindow::kMinResendMs - 1) * kMs);
  EXPECT_EQ(sent.size(), 1u);
  Resend(kT0 + SendWindow::kMinResendMs * kMs);
  EXPECT_EQ(sent.size(), 2u);
}

TEST_F(SendWindowTest, ResetFreesEverythingAndRestoresTheWindow) {
  w.SetWindowSize(230);
  w.StartMessage(std::string(5000, 'r'), 2);
  w.FillMessage();
  w.Reset();
  EXPECT_FALSE(w.TransferActive);
  EXPECT_EQ(w.WindowSize(), 192);
  for (const SendSlot& s : w.Slots()) EXPECT_FALSE(s.Used());
  EXPECT_EQ(w.NextDeadline(), 0u);
}

}  // namespace
}  // namespace ab
