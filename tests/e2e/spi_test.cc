// /spi of the running driver: the three SOAP requests with the configured Basic credentials,
// answered from the data set; a wrong password gets nothing; an acknowledgement reaches the
// double as the "netwritesoobe" command, byte for byte, once.

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace ab::e2e {
namespace {

std::string Envelope(const std::string& request) {
  return std::string(
             "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\" "
             "xmlns:ns=\"") +
         kSpiNamespace + "\"><soapenv:Header/><soapenv:Body>" + request +
         "</soapenv:Body></soapenv:Envelope>";
}

class SpiEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bridge_.Launch();
    ASSERT_TRUE(bridge_.WaitReady(60s)) << bridge_.Proc().Text();
  }
  HttpReply Ask(const std::string& request) {
    return bridge_.Spi(Envelope(request), bridge_.Config().UserName, bridge_.Config().Password);
  }
  Bridge bridge_;
};

TEST_F(SpiEndToEndTest, AnswersTheThreeRequestsFromTheTables) {
  struct Case {
    const char* what;
    std::string request;
    std::string expected;
  };
  const DataSet& d = bridge_.Data();
  const std::vector<Case> cases = {
      {"list", "<ns:GetObjectsReq></ns:GetObjectsReq>", ExpectedSpiList(d)},
      // 103 is not served, 101 twice gives two descriptions.
      {"descriptions",
       "<ns:GetObjectsReq><Obj id=\"104\"/><Obj id=\"103\"/><Obj id=\"101\"/><Obj "
       "id=\"101\"/></ns:GetObjectsReq>",
       ExpectedSpiDescriptions(d, {104, 103, 101, 101}, bridge_.Config().Maintainer)},
      {"states",
       "<ns:GetCurrentStateReq><Obj id=\"102\"/><Obj id=\"999\"/><Obj "
       "id=\"101\"/></ns:GetCurrentStateReq>",
       ExpectedSpiStates(d, {102, 999, 101})},
      {"ack", "<ns:SendAckReq id=\"104\" note=\"x\"/>", ExpectedSpiAck(d, 104)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const HttpReply r = Ask(c.request);
    ASSERT_TRUE(r.Answered);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "text/json; charset=utf-8");
    EXPECT_EQ(r.Body, c.expected);
  }
}

TEST_F(SpiEndToEndTest, WrongCredentialsGetAnEmptyAnswerAndQueueNothing) {
  const std::string ack = Envelope("<ns:SendAckReq id=\"101\"/>");
  const std::vector<std::pair<std::string, std::string>> wrong = {
      {bridge_.Config().UserName, "wrong"},
      {bridge_.Config().UserName, bridge_.Config().Password + "x"},
      {"SPI", bridge_.Config().Password},
      {"", ""}};
  for (const auto& [user, password] : wrong) {
    SCOPED_TRACE(user + ":" + password);
    const HttpReply r = bridge_.Spi(ack, user, password);
    ASSERT_TRUE(r.Answered);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body, "");
  }
  const HttpReply bare = Http(bridge_.HttpPort(), "POST", "/spi", ack);
  ASSERT_TRUE(bare.Answered);
  EXPECT_EQ(bare.Body, "");
  // Messages go out in order: once a rightful acknowledgement has arrived, a wrongly accepted
  // one would have arrived before it.
  ASSERT_EQ(Ask("<ns:SendAckReq id=\"102\"/>").Body, ExpectedSpiAck(bridge_.Data(), 102));
  EXPECT_TRUE(WaitFor([&] { return bridge_.Server().CountOf("netwritesoobe") >= 1; }, 15s));
  EXPECT_EQ(bridge_.Received("netwritesoobe"),
            std::vector<std::string>{
                ExpectedAckCommand(bridge_.Data(), 102, bridge_.Config().UserName)});
}

TEST_F(SpiEndToEndTest, AcknowledgementsArriveAtTheServerAsBuiltAndOnce) {
  const DataSet& d = bridge_.Data();
  // 103 is not served to the consumers but is still acknowledged; 555 does not exist.
  for (int id : {101, 103, 555}) {
    SCOPED_TRACE(id);
    const HttpReply r = Ask("<ns:SendAckReq id=\"" + std::to_string(id) + "\"/>");
    ASSERT_TRUE(r.Answered);
    EXPECT_EQ(r.Body, id == 555 ? "" : ExpectedSpiAck(d, id));
  }
  // A last one marks the end: a repeat of the first two would arrive before it.
  ASSERT_EQ(Ask("<ns:SendAckReq id=\"104\"/>").Body, ExpectedSpiAck(d, 104));
  const std::vector<std::string> expected = {
      ExpectedAckCommand(d, 101, bridge_.Config().UserName),
      ExpectedAckCommand(d, 103, bridge_.Config().UserName),
      ExpectedAckCommand(d, 104, bridge_.Config().UserName)};
  EXPECT_TRUE(WaitFor(
      [&] {
        const auto got = bridge_.Received("netwritesoobe");
        return !got.empty() && got.back() == expected.back();
      },
      15s));
  EXPECT_EQ(bridge_.Received("netwritesoobe"), expected);
}

}  // namespace
}  // namespace ab::e2e
