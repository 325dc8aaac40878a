#include "link/outbox_drive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/outbox_files.h"
#include "sync_fixture.h"
#include "util/bytes.h"

namespace ab {
namespace {

using namespace std::chrono_literals;
using test::MakeText;
constexpr auto Rec = &test::OutboxRecord;

std::string Back(int i) { return "{\"$c$\":\"back\",\"i\":" + std::to_string(i) + "}"; }

class OutboxDriveTest : public test::SyncFixture {
 protected:
  void Store(int32_t pending, const std::string& bs0) {
    test::WriteFileText(dir.path() / "dd8" / "backsoob.dat", test::OutboxIndex(pending, 0, 0));
    test::WriteFileText(dir.path() / "dd8" / "bs0.dat", bs0);
  }
  void Start() {
    if (link) link->Sync = nullptr;
    sync.reset();
    link.reset();
    queues.clear();
    Make(false, false);
    sync->Outbox().Outbox()->SetOpenRetries(2, 0ms);
    link->SetEnabled(true);
    Step();
    FromServer(MakeText(++number, std::string("{\"$c$\":\"regok\",\"tid\":\"") + test::kSyncTid +
                                      "\",\"version\":\"1\"}"));
    Step();
    ASSERT_TRUE(link->Registered.load());
  }
  int32_t Pending() { return sync->Outbox().Outbox()->Pending(); }
  // Back messages the server got since the last call; acknowledges them when asked.
  std::vector<std::string> Delivered(bool ack) {
    std::vector<std::string> out;
    MemoryDatagram d;
    while (server->Take(d)) {
      const auto dec = test::Decode(d.Data);
      if (dec.Header.Kind != kKindText || JsonGetValue(dec.Data, "$c$") != "back") continue;
      out.push_back(dec.Data);
      if (ack) FromServer(test::MakeAck(dec.Header.MessageNumber, dec.Header.ChunkNumber));
    }
    Step();
    return out;
  }
};

TEST_F(OutboxDriveTest, OneMessageAtATimeRemovedOnlyAfterItsAcknowledgement) {
  Store(2, Rec(Back(1)) + Rec(Back(2)));
  Start();
  Advance(101ms);
  EXPECT_EQ(Delivered(false), std::vector<std::string>{Back(1)});
  Advance(101ms);
  EXPECT_EQ(Pending(), 2);  // not acknowledged: still on disk, nothing else sent
  EXPECT_TRUE(sync->Outbox().InFlight());
  // Only resends of the same message meanwhile; now acknowledged.
  for (const auto& m : Delivered(true)) EXPECT_EQ(m, Back(1));
  Advance(101ms);
  EXPECT_EQ(Pending(), 1);
  EXPECT_EQ(Delivered(true), std::vector<std::string>{Back(2)});
  Advance(101ms);
  EXPECT_EQ(Pending(), 0);
  EXPECT_FALSE(sync->Outbox().InFlight());
}

TEST_F(OutboxDriveTest, ARestartBetweenReadAndRemoveSendsTheMessageAgain) {
  Store(1, Rec(Back(7)));
  Start();
  Advance(101ms);
  EXPECT_EQ(Delivered(false), std::vector<std::string>{Back(7)});
  Start();  // the program stops before the acknowledgement and starts again
  EXPECT_EQ(Pending(), 1);
  Advance(101ms);
  EXPECT_EQ(Delivered(true), std::vector<std::string>{Back(7)});
  Advance(101ms);
  EXPECT_EQ(Pending(), 0);
}

TEST_F(OutboxDriveTest, AResetForgetsTheWaitAndTheMessageGoesAgain) {
  Store(1, Rec(Back(3)));
  Start();
  Advance(101ms);
  EXPECT_EQ(Delivered(false), std::vector<std::string>{Back(3)});
  link->Reset(1);
  EXPECT_FALSE(sync->Outbox().InFlight());
  Advance(101ms);
  EXPECT_EQ(Pending(), 1);  // an emptied OutQueue after a reset is no delivery
  Step();
  FromServer(MakeText(++number, std::string("{\"$c$\":\"regok\",\"tid\":\"") + test::kSyncTid +
                                    "\",\"version\":\"1\"}"));
  Step();
  Advance(101ms);
  EXPECT_EQ(Delivered(true), std::vector<std::string>{Back(3)});
  Advance(101ms);
  EXPECT_EQ(Pending(), 0);
}

TEST_F(OutboxDriveTest, ADamagedRecordIsSkippedAndTheSoundOneAfterItDelivered) {
  Store(2, std::string("\x01\x02stray") + Rec(Back(5)));
  Start();
  std::vector<std::string> all;
  for (int i = 0; i < 5 && Pending() > 0; ++i) {
    Advance(101ms);
    for (const auto& m : Delivered(true)) all.push_back(m);
  }
  EXPECT_EQ(Pending(), 0);
  ASSERT_FALSE(all.empty());
  for (const auto& m : all) EXPECT_EQ(m, Back(5));
}

TEST_F(OutboxDriveTest, NothingIsSentBeforeTheLinkIsReady) {
  Store(1, Rec(Back(9)));
  Make(false, false);
  Advance(101ms);
  Advance(101ms);
  EXPECT_FALSE(sync->Outbox().InFlight());
  EXPECT_FALSE(link->OutQueue.NotEmpty());
  EXPECT_EQ(Pending(), 1);
}

}  // namespace
}  // namespace ab
