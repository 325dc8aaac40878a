#include "core/form22.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core_test_support.h"
#include "link/datagram.h"
#include "link/memory_socket.h"
#include "support/temp_dir.h"
#include "util/json.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

// The controller stepped by hand: no threads, a manual clock, the link on an in-memory socket.
class Form22Test : public ::testing::Test {
 protected:
  Form22Test() : clock(test::March5At140709()) {
    test::UseUtc();
    auto [a, b] = MakeMemorySocketPair({0x7F000001, 40000}, {0x7F000001, 12543});
    link_end = std::move(a);
    server_end = std::move(b);
  }

  std::unique_ptr<TForm22> Make() {
    Form22Options o;
    o.WorkDir = dir.path();
    o.clock = &clock;
    o.StartThreads = false;
    o.OpenSocket = [this] { return std::unique_ptr<DatagramSocket>(std::move(link_end)); };
    return std::make_unique<TForm22>(std::move(o));
  }

  void WriteIni(const std::string& text) { std::ofstream(dir.path() / "setup.ini") << text; }

  // The text of the first datagram the link sent, and where it went.
  std::string FirstSentText(Endpoint& to) {
    MemoryDatagram d;
    if (!server_end->Take(d)) return {};
    to = d.To;
    if (d.Data.size() < kPrefixSize + 2) return {};
    std::span<uint8_t> payload(d.Data.data() + kPrefixSize, d.Data.size() - kPrefixSize);
    UnscramblePayload(payload);
    return std::string(payload.begin() + 2, payload.end());
  }

  test::TempDir dir;
  ManualClock clock;
  std::unique_ptr<MemorySocket> link_end;
  std::unique_ptr<MemorySocket> server_end;
};

TEST_F(Form22Test, WithoutSetupIniEverythingTakesItsDefault) {
  auto form = Make();
  form->FormCreate();
  EXPECT_EQ(form->PublicAddress(), "127.0.0.1:8090");
  ASSERT_NE(form->ServerLink(), nullptr);
  EXPECT_EQ(form->ServerLink()->UserName, "alarm-bridge");
  EXPECT_EQ(form->ServerLink()->Password, "5172904");
  EXPECT_TRUE(form->ServerLink()->Enabled.load());
  ASSERT_EQ(form->Queues().size(), 1u);
  EXPECT_EQ(form->Queues()[0]->Name, "bg");
  {
    ControllerLockGuard guard(form->Controller().Lock);
    const auto& t = form->Controller().Tables;
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0]->NameTable, "mesmaps");
    EXPECT_EQ(t[3]->NameTable, "object");
  }

  form->ServerLink()->Iterate();
  Endpoint to;
  const std::string reg = FirstSentText(to);
  EXPECT_EQ(to, (Endpoint{0x7F000001, 12543}));
  EXPECT_EQ(JsonGetValue(reg, "$c$"), "reg");
  EXPECT_EQ(JsonGetValue(reg, "password"), "5172904");
  EXPECT_EQ(JsonGetValue(reg, "username"), "alarm-bridge");
  EXPECT_EQ(JsonGetValue(reg, "id"), kClientTypeId);
}

TEST_F(Form22Test, SettingsReachTheLinkAndTheHttpSide) {
  WriteIni("[MAIN]\nip=10.0.0.5\nPUD=secret\nUserName=op\n[serverhost]\naddress=127.0.0.1\n");
  auto form = Make();
  form->FormCreate();
  EXPECT_EQ(form->PublicAddress(), "10.0.0.5:8090");
  EXPECT_EQ(form->Settings().HttpUserName, "op");
  EXPECT_EQ(form->ServerLink()->Password, "secret");
}

TEST_F(Form22Test, ShutdownStopsHttpThenLinkThenFreesTablesAndCursor) {
  auto form = Make();
  form->FormCreate();
  form->ServerLink()->Iterate();
  MemoryDatagram d;
  while (server_end->Take(d)) {
  }
  form->FormClose();
  EXPECT_EQ(form->ServerLink(), nullptr);
  EXPECT_EQ(form->Http(), nullptr);
  EXPECT_TRUE(form->Queues().empty());
  {
    ControllerLockGuard guard(form->Controller().Lock);
    EXPECT_TRUE(form->Controller().Tables.empty());
  }
  // The link said goodbye on its way out.
  Endpoint to;
  EXPECT_EQ(JsonGetValue(FirstSentText(to), "$c$"), "closeclient");
  form->FormClose();  // idempotent
  form->Timer2Timer();  // a late tick does nothing
}

}  // namespace
}  // namespace ab
