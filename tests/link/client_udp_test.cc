#include "link/client_udp.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "link/handover.h"
#include "link/memory_socket.h"
#include "link_test_util.h"
#include "support/temp_dir.h"
#include "util/json.h"

namespace ab {
namespace {

using namespace std::chrono_literals;
using test::Decode;
using test::MakeChunk;
using test::MakeText;

constexpr char kClientId[] = "5f1e0c2a-6b7d-4e8f-9a0b-1c2d3e4f5a6b";
constexpr Endpoint kLinkEnd{0x0A0000FE, 40000};
constexpr Endpoint kServerEnd{0x0A000001, 5000};
constexpr uint32_t kAddr1 = 0x0A000001, kAddr2 = 0x0A000002, kAddr3 = 0x0A000003;

class TablesLoading : public TableSync {
 public:
  bool StartTableLoad() override { return true; }
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override { Make("10.0.0.1,10.0.0.2,10.0.0.3"); }

  void Make(const std::string& addresses) {
    link.reset();
    auto [a, b] = MakeMemorySocketPair(kLinkEnd, kServerEnd);
    link_end = a.get();
    server = std::move(b);
    link = std::make_unique<client_udp>(kClientId, 5000, addresses, std::move(a), clock, lock,
                                        dir.path(), false);
    link->UserName = "bridge";
    link->Password = "pw";
  }

  // Receives everything waiting, then iterates until the link has nothing left to do now.
  void Step() { test::StepLink(*link, clock, 100); }
  void Advance(std::chrono::nanoseconds d) {
    clock.Advance(d);
    Step();
  }
  std::vector<MemoryDatagram> Sent() {
    std::vector<MemoryDatagram> out;
    MemoryDatagram d;
    while (server->Take(d)) out.push_back(d);
    return out;
  }
  // Datagrams of kind 0 the link sent, decoded.
  std::vector<test::Decoded> SentTexts() {
    std::vector<test::Decoded> out;
    for (const auto& d : Sent()) {
      auto dec = Decode(d.Data);
      if (dec.Header.Kind == kKindText && dec.Header.PayloadLength > 0) out.push_back(dec);
    }
    return out;
  }
  void FromServer(const Bytes& d) { server->SendTo(kLinkEnd, d); }
  std::vector<std::string> Events() {
    std::vector<std::string> out;
    std::string e;
    while (link->EventQueue.Pop(e)) out.push_back(e);
    return out;
  }
  // True when a line of the link's diagnostic log queue equals `line` (the queue is drained).
  bool Logged(const std::string& line) {
    bool found = false;
    std::string l;
    while (link->Log.Queue.Pop(l)) found = found || l == line;
    return found;
  }
  // Enables the link and answers its first registration after `answer_after`.
  void Register(const std::string& tid = "0123abcd-4567-89ef-0123-456789abcdef",
                std::chrono::nanoseconds answer_after = 20ms) {
    link->SetEnabled(true);
    Step();
    clock.Advance(answer_after);
    FromServer(MakeText(1, "{\"$c$\":\"regok\",\"tid\":\"" + tid + "\",\"version\":\"3.1\"}"));
    Step();
    ASSERT_TRUE(link->Registered.load());
  }

  test::TempDir dir;
  ManualClock clock;
  std::mutex lock;
  MemorySocket* link_end = nullptr;
  std::unique_ptr<MemorySocket> server;
  std::unique_ptr<client_udp> link;
};

TEST_F(LinkTest, RegistrationRepeatsEveryFourSecondsOnTheNextAddress) {
  link->SetEnabled(true);
  Step();
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].To, (Endpoint{kAddr1, 5000}));
  const auto reg = Decode(sent[0].Data);
  EXPECT_EQ(reg.Data,
            std::string("{\"$c$\":\"reg\",\"id\":\"") + kClientId +
                "\",\"username\":\"bridge\",\"password\":\"pw\",\"keepalive\":1,\"zip\":0,"
                "\"ver\":\"0.0.0.0\"}");
  EXPECT_EQ(reg.Header.MessageNumber, 1);
  EXPECT_EQ(reg.Header.ConnectionId, ConnectionIdBytes{});

  const uint32_t expected[] = {kAddr2, kAddr3, kAddr1};
  for (uint32_t address : expected) {
    Advance(4000ms);  // not more than the interval yet
    EXPECT_TRUE(Sent().empty());
    Advance(1ms);
    sent = Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].To.Address, address);
    EXPECT_EQ(Decode(sent[0].Data).Header.MessageNumber, 1);  // numbering restarts
  }
  EXPECT_FALSE(link->Registered.load());
}

TEST_F(LinkTest, SendCommandOfTenBytesIsA69ByteDatagram) {
  link->SendCommand("0123456789");
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Data.size(), 69u);
  const auto d = Decode(sent[0].Data);
  EXPECT_EQ(d.Header.PayloadLength, 12);
  EXPECT_EQ(d.Header.TotalSize, 12);
  EXPECT_EQ(d.Header.ChunkCount, 1);
  EXPECT_EQ(d.Header.ChunkNumber, 1);
  EXPECT_EQ(d.Data, "0123456789");
}

TEST_F(LinkTest, AcceptanceDerivesTheConnectionIdFromA36CharacterTid) {
  struct Case {
    std::string tid;
    ConnectionIdBytes id;
  };
  const Case cases[] = {
      {"0123abcd-4567-89EF-0123-456789abcdef",
       {0x01, 0x23, 0xab, 0xcd, 0x45, 0x67, 0x89, 0xef, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd,
        0xef}},
      {"zz23abcd-4567-89ef-0123-456789abcdef",
       {0x00, 0x23, 0xab, 0xcd, 0x45, 0x67, 0x89, 0xef, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd,
        0xef}},
      {"0123abcd456789ef0123456789abcdef", {}},        // 32 characters
      {"{0123abcd-4567-89ef-0123-456789abcdef}", {}},  // 38 characters
  };
  for (const Case& c : cases) {
    Make("10.0.0.1");
    Register(c.tid);
    EXPECT_EQ(link->Tid, c.tid);
    EXPECT_EQ(link->ConnectionId, c.id) << c.tid;
    // Every later datagram carries it: the first keep-alive went out at once.
    auto texts = SentTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back().Data, "{\"$c$\":\"testex\"}");
    EXPECT_EQ(texts.back().Header.ConnectionId, c.id) << c.tid;
  }
}

TEST_F(LinkTest, ConnectedNoticeCarriesTheReplyAndLkuser) {
  link->SetEnabled(true);
  Step();
  const std::string reply =
      "{\"$c$\":\"regok\",\"tid\":\"t\",\"version\":\"2.0\",\"lkuser_n_abs\":5}";
  FromServer(MakeText(1, reply));
  Step();
  const auto events = Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], "{\"$c$\":\"connected\",\"ver_serv\":\"2.0\",\"data\":" + reply +
                           ",\"lkuser_n_abs\":5}");
}

TEST_F(LinkTest, RefusalWaitsThirtySecondsAndAcceptanceRestoresFourSeconds) {
  link->SetEnabled(true);
  Step();
  Sent();
  FromServer(MakeText(1, "{\"$c$\":\"accessdenied\"}"));
  Step();
  Sent();  // its acknowledgement
  EXPECT_TRUE(link->AccessDenied.load());
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"accessdenied\"}"});
  Advance(30000ms);
  EXPECT_TRUE(Sent().empty());
  Advance(1ms);
  ASSERT_EQ(Sent().size(), 1u);
  FromServer(MakeText(1, "{\"$c$\":\"regok\",\"tid\":\"x\",\"version\":\"1\"}"));
  Step();
  EXPECT_TRUE(link->Registered.load());
  EXPECT_FALSE(link->AccessDenied.load());
  EXPECT_EQ(link->RegisterInterval, 4000);
}

TEST_F(LinkTest, KeepaliveEverySecondWithTheQueueCursor) {
  TAQueue queues;
  AddQueue(queues, "bg");
  link->Queues = &queues;
  Register();
  // Acceptance asked for the queue once.
  std::string head;
  ASSERT_TRUE(link->OutQueue.Peek(head));
  EXPECT_EQ(head, "{\"$c$\":\"getqueue\",\"name\":\"bg\"}");
  const std::string keepalive =
      "{\"$c$\":\"testex\",\"queue\":[{\"name\":\"bg\",\"current\":\"0\",\"full\":\"0\","
      "\"inpack\":\"0\"}]}";
  auto keepalives = [&] {
    int n = 0;
    for (const auto& t : SentTexts()) {
      if (t.Data == keepalive) ++n;
      // Acknowledge the getqueue transfer so that it does not run out of resends.
      if (t.Data.find("getqueue") != std::string::npos) {
        FromServer(test::MakeAck(t.Header.MessageNumber, t.Header.ChunkNumber));
      }
    }
    return n;
  };
  EXPECT_EQ(keepalives(), 1);
  Advance(1000ms);
  EXPECT_EQ(keepalives(), 0);
  Advance(1ms);
  EXPECT_EQ(keepalives(), 1);
  EXPECT_FALSE(link->OutQueue.NotEmpty());
  // An HTTP thread asking for an immediate poll.
  Advance(100ms);
  EXPECT_EQ(keepalives(), 0);
  link->RequestKeepalive();
  Step();
  EXPECT_EQ(keepalives(), 1);
}

TEST_F(LinkTest, NoKeepaliveWhileTablesLoadAndCode7AfterThirtySeconds) {
  TablesLoading sync;
  link->Sync = &sync;
  Register();
  EXPECT_FALSE(link->TablesReady.load());
  for (const auto& t : SentTexts()) EXPECT_EQ(t.Data.find("testex"), std::string::npos);
  Events();
  Advance(30000ms - 20ms);
  EXPECT_TRUE(link->Registered.load());
  Advance(21ms);
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"disconnected\",\"p\":7}"});
  EXPECT_TRUE(Logged("disconnected, code 7"));
  // Registered on entry 0; the reset and the next attempt move two places on.
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].To.Address, kAddr3);
}

TEST_F(LinkTest, SilenceForTenSecondsIsCode1AndReregistersTwoAddressesOn) {
  Register();
  Sent();
  Events();
  Advance(10000ms);  // regok arrived 10 s ago: not more than 10 s yet
  EXPECT_TRUE(link->Registered.load());
  Sent();
  Advance(1ms);
  EXPECT_FALSE(link->Registered.load());
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"disconnected\",\"p\":1}"});
  EXPECT_TRUE(Logged("disconnected, code 1"));
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].To.Address, kAddr3);
  EXPECT_NE(Decode(sent[0].Data).Data.find("\"$c$\":\"reg\""), std::string::npos);
}

TEST_F(LinkTest, SingleAddressResetStaysOnIt) {
  Make("10.0.0.1");
  Register();
  Sent();
  Advance(10000ms);
  Sent();
  Advance(1ms);
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(Decode(sent[0].Data).Data.find("\"$c$\":\"reg\""), std::string::npos);
  EXPECT_EQ(sent[0].To.Address, kAddr1);
}

TEST_F(LinkTest, ServerKeepaliveDatagramKeepsTheLinkAlive) {
  Register();
  for (int i = 0; i < 30; ++i) {
    DatagramHeader h;
    h.Kind = kKindKeepalive;
    Bytes d(kPrefixSize);
    EncodePrefix(h, d);
    FromServer(d);
    Advance(900ms);
  }
  EXPECT_TRUE(link->Registered.load());
}

TEST_F(LinkTest, MessageIsChunkedAcknowledgedAndRemoved) {
  Register();
  Sent();
  link->OutQueue.Push(std::string(960, 'a') + "b");
  Step();
  auto sent = Sent();
  ASSERT_EQ(sent.size(), 2u);
  const auto c1 = Decode(sent[0].Data), c2 = Decode(sent[1].Data);
  EXPECT_EQ(c1.Header.PayloadLength, 962);
  EXPECT_EQ(c2.Header.PayloadLength, 3);
  EXPECT_EQ(c2.Header.ChunkOffset, 960);
  EXPECT_EQ(c2.Header.TotalSize, 961);
  EXPECT_EQ(c2.Header.ChunkCount, 2);
  EXPECT_EQ(c2.Data, "b");
  EXPECT_EQ(sent[0].Data.size(), static_cast<size_t>(kMaxSentDatagram));
  FromServer(test::MakeAck(c1.Header.MessageNumber + 1, 1));  // another message: frees nothing
  FromServer(test::MakeAck(c1.Header.MessageNumber, 1));
  Step();
  EXPECT_TRUE(link->OutQueue.NotEmpty());
  FromServer(test::MakeAck(c1.Header.MessageNumber, 2));
  Step();
  EXPECT_FALSE(link->OutQueue.NotEmpty());
  EXPECT_FALSE(link->Window.TransferActive);
}

TEST_F(LinkTest, ChunkNeverAcknowledgedIsSentTwentyTimesThenCode2) {
  Register("0123abcd-4567-89ef-0123-456789abcdef", 100ms);
  EXPECT_EQ(link->Window.Rto, 300u);
  link->OutQueue.Push("{\"$c$\":\"info\"}");
  link->OutQueue.Push("{\"$c$\":\"second\"}");
  Step();
  Events();
  std::vector<uint64_t> times;
  auto collect = [&] {
    for (const auto& d : SentTexts()) {
      if (d.Data == "{\"$c$\":\"info\"}") times.push_back(TickCount(clock));
    }
  };
  collect();
  for (int i = 0; i < 25 && link->Registered.load(); ++i) {
    // Server keep-alives hold off the loss detection.
    FromServer(MakeChunk(kKindKeepalive, 0, 0, 0, 0, 0, ""));
    Advance(299ms);
    collect();
    Advance(1ms);
    collect();
  }
  ASSERT_EQ(times.size(), 20u);
  for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 300 * kTicksPerMs);
  EXPECT_FALSE(link->Registered.load());
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"disconnected\",\"p\":2}"});
  EXPECT_FALSE(link->OutQueue.NotEmpty());
}

TEST_F(LinkTest, ReceivePathFiltersAndAcknowledges) {
  Register();
  Sent();
  Events();
  const uint64_t before = link->LastReceiveTime();
  // A zero-length datagram only refreshes the time of last reception.
  clock.Advance(5ms);
  FromServer({});
  Step();
  EXPECT_GT(link->LastReceiveTime(), before);
  EXPECT_TRUE(Sent().empty());
  // Foreign sources are dropped unread: no acknowledgement, no effect.
  link_end->Inject({0xC0A80001, 5000}, MakeText(2, "{\"$c$\":\"forged\"}"));
  Step();
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(Events().empty());
  // A new text is handed over and acknowledged; its repeat is acknowledged, not handed over.
  const int64_t data_before = link->DataDatagrams();
  FromServer(MakeText(2, "{\"$c$\":\"hello\"}"));
  Step();
  FromServer(MakeText(2, "{\"$c$\":\"hello\"}"));
  Step();
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"hello\"}"});
  int acks = 0;
  for (const auto& d : Sent()) {
    const auto dec = Decode(d.Data);
    if (dec.Header.Kind == kKindAck && dec.Header.MessageNumber == 2) ++acks;
  }
  EXPECT_EQ(acks, 2);
  EXPECT_EQ(link->DataDatagrams(), data_before + 2);
}

TEST_F(LinkTest, TextRouting) {
  Register();
  Events();
  auto two_chunks = [&](int64_t number, const std::string& text) {
    const int32_t total = static_cast<int32_t>(text.size());
    const int32_t half = total / 2;
    FromServer(MakeChunk(kKindText, number, 2, 2, half, total, text.substr(half)));
    FromServer(MakeChunk(kKindText, number, 1, 2, 0, total, text.substr(0, half)));
    Step();
  };
  FromServer(MakeText(2, "{\"$c$\":\"newlk\"}"));
  Step();
  EXPECT_TRUE(Events().empty());
  // Both words: to the dispatcher, which passes an unknown command on.
  two_chunks(3, "{\"$c$\":\"newlk\",\"a\":\"testex\"}");
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"newlk\",\"a\":\"testex\"}"});
  two_chunks(4, "{\"$c$\":\"newlk\",\"a\":\"b\"}");
  EXPECT_TRUE(Events().empty());
  // Neither word: straight to the owner, even what looks like a command.
  two_chunks(5, "{\"$c$\":\"regok\",\"tid\":\"other\"}");
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"regok\",\"tid\":\"other\"}"});
  EXPECT_NE(link->Tid, "other");
  EXPECT_EQ(link->ExpectedNumber(), 6);
  // A chunk of a completed message is acknowledged but not handed over again.
  two_chunks(5, "{\"$c$\":\"regok\",\"tid\":\"other\"}");
  EXPECT_TRUE(Events().empty());
}

TEST_F(LinkTest, ShortMessageOvertakingALongOneDoesNotLoseIt) {
  Register();
  Events();
  const std::string longer = "{\"$c$\":\"long\",\"x\":\"0123456789\"}";
  const int32_t total = static_cast<int32_t>(longer.size());
  FromServer(MakeChunk(kKindText, 2, 1, 2, 0, total, longer.substr(0, 10)));
  FromServer(MakeText(3, "{\"$c$\":\"short\"}"));
  Step();
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"short\"}"});
  EXPECT_EQ(link->ExpectedNumber(), 2);
  FromServer(MakeText(3, "{\"$c$\":\"short\"}"));  // a repeat: acknowledged, not run again
  FromServer(MakeChunk(kKindText, 2, 2, 2, 10, total, longer.substr(10)));
  Step();
  EXPECT_EQ(Events(), std::vector<std::string>{longer});
  EXPECT_EQ(link->ExpectedNumber(), 4);
}

TEST_F(LinkTest, FullReceiveQueueWithholdsTheAcknowledgement) {
  Register();
  Sent();
  Events();
  const Bytes filler(1, kRecordKind20);
  while (link->ReceiveQueue.Push(filler)) {
  }
  FromServer(MakeText(2, "{\"$c$\":\"late\"}"));
  EXPECT_TRUE(link->ReceivePass());
  EXPECT_TRUE(Sent().empty());  // not acknowledged
  while (link->ReceiveQueue.NotEmpty()) link->ReceiveQueue.Drop();
  FromServer(MakeText(2, "{\"$c$\":\"late\"}"));  // the server's resend
  Step();
  const auto sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Decode(sent[0].Data).Header.Kind, kKindAck);
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"late\"}"});
}

TEST_F(LinkTest, RecordChunksReassembleAndAMisfitIsCode5) {
  class Records : public TableSync {
   public:
    std::vector<Bytes> got;
    void HandleRecord(const Bytes& r) override { got.push_back(r); }
  } sync;
  link->Sync = &sync;
  Register();
  Events();
  FromServer(MakeChunk(kKindRecord, 2, 1, 1, 0, 4, "ABCD"));
  FromServer(MakeChunk(kKindRecord2, 3, 2, 2, 3, 5, "de"));
  FromServer(MakeChunk(kKindRecord2, 3, 1, 2, 0, 5, "abc"));
  Step();
  ASSERT_EQ(sync.got.size(), 2u);
  EXPECT_EQ(std::string(sync.got[0].begin(), sync.got[0].end()), "ABCD");
  EXPECT_EQ(std::string(sync.got[1].begin(), sync.got[1].end()), "abcde");
  // Data that would end past the buffer resets the link.
  FromServer(MakeChunk(kKindRecord, 4, 1, 2, 0, 4, "wx"));
  FromServer(MakeChunk(kKindRecord, 4, 2, 2, 3, 4, "yz"));
  Step();
  EXPECT_EQ(Events(), std::vector<std::string>{"{\"$c$\":\"disconnected\",\"p\":5}"});
  EXPECT_FALSE(link->Registered.load());
}

TEST_F(LinkTest, PerSecondFigures) {
  Register();
  Advance(1001ms);
  EXPECT_GT(link->OutBytesPerSecond.load(), 0);
  EXPECT_GT(link->InBytesPerSecond.load(), 0);
  const int32_t activity = link->ActivityCounter.load();
  Advance(1001ms);  // nothing received in this second
  EXPECT_EQ(link->InBytesPerSecond.load(), 0);
  EXPECT_EQ(link->ActivityCounter.load(), activity);
}

TEST_F(LinkTest, StopSendsCloseclient) {
  Register();
  Sent();
  link->Stop();
  auto texts = SentTexts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].Data, "{\"$c$\":\"closeclient\"}");
}

TEST(LinkNotUsableTest, WithoutASocketNothingHappens) {
  test::TempDir dir;
  ManualClock clock;
  std::mutex lock;
  client_udp link(kClientId, 5000, "10.0.0.1", nullptr, clock, lock, dir.path(), false);
  link.SetEnabled(true);
  for (int i = 0; i < 3; ++i) {
    link.Iterate();
    clock.Advance(5s);
  }
  EXPECT_FALSE(link.Usable());
  EXPECT_FALSE(link.Registered.load());
  link.Start();  // no threads without a socket
  link.Stop();
}

}  // namespace
}  // namespace ab
