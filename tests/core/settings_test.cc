#include "core/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "util/codepage.h"
#include "util/func.h"

namespace ab {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetKeyTable1(); }

  Settings Load(const std::string& content) {
    const auto file = dir_.path() / "setup.ini";
    std::ofstream(file, std::ios::binary) << content;
    return LoadSettings(file, messages_);
  }

  test::TempDir dir_;
  std::vector<std::string> messages_;
};

std::string HexOf(const KeyTable& t) { return BytesToHex(t); }

KeyTable Reversed() {
  KeyTable t{};
  for (int k = 0; k < 256; ++k) t[k] = static_cast<uint8_t>(255 - k);
  return t;
}

TEST_F(SettingsTest, NoFileGivesEveryDefault) {
  const Settings s = LoadSettings(dir_.path() / "setup.ini", messages_);
  EXPECT_EQ(s.ServerAddress, "127.0.0.1");
  EXPECT_EQ(s.ServerPort, 12543);
  EXPECT_EQ(s.KeyTable, "");
  EXPECT_EQ(s.Pud, "5172904");
  EXPECT_EQ(s.Ip, "127.0.0.1");
  EXPECT_EQ(s.CompanyName, "");
  EXPECT_EQ(s.CompanyPhone, "");
  EXPECT_EQ(s.CompanyAddress, "");
  EXPECT_EQ(s.HttpUserName, "admin");
  EXPECT_EQ(s.HttpPassword, "qlumb");
  EXPECT_EQ(s.HttpPort, 8090);
  EXPECT_TRUE(s.BGOn);
  EXPECT_TRUE(s.MESOn);
  EXPECT_EQ(s.PublicAddress(), "127.0.0.1:8090");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsTest, ReadsEveryKey) {
  const Settings s = Load(
      "[ServerHost]\r\n"
      "Address=10.1.1.1,10.1.1.2\r\n"
      "Port=14000\r\n"
      "[main]\r\n"
      "PUD=secret\r\n"
      "IP=192.0.2.7\r\n"
      "companyName=\xCE\xCE\xCE \"\xD1\xF2\xF0\xE0\xE6\"\r\n"
      "companyPhone=+7 (495) 000-00-00\r\n"
      "companyAddress=\xCC\xEE\xF1\xEA\xE2\xE0, \xF3\xEB. 1\r\n"
      "UserName=spi\r\n"
      "Password=p;a#ss=word\r\n"
      "Port=8123\r\n"
      "BGOn=0\r\n"
      "MESOn=2\r\n");
  EXPECT_EQ(s.ServerAddress, "10.1.1.1,10.1.1.2");
  EXPECT_EQ(s.ServerPort, 14000);
  EXPECT_EQ(s.Pud, "secret");
  EXPECT_EQ(s.Ip, "192.0.2.7");
  EXPECT_EQ(s.CompanyName, "\xCE\xCE\xCE \"\xD1\xF2\xF0\xE0\xE6\"");
  EXPECT_EQ(s.CompanyPhone, "+7 (495) 000-00-00");
  EXPECT_EQ(s.CompanyAddress, "\xCC\xEE\xF1\xEA\xE2\xE0, \xF3\xEB. 1");
  EXPECT_EQ(s.HttpUserName, "spi");
  EXPECT_EQ(s.HttpPassword, "p;a#ss=word");
  EXPECT_EQ(s.HttpPort, 8123);
  EXPECT_FALSE(s.BGOn);
  EXPECT_TRUE(s.MESOn);
  EXPECT_EQ(s.PublicAddress(), "192.0.2.7:8123");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsTest, IpWithoutPortUsesDefaultPort) {
  EXPECT_EQ(Load("[main]\nIP=10.0.0.5\n").PublicAddress(), "10.0.0.5:8090");
}

TEST_F(SettingsTest, KeysAndSectionsInOtherLetterCase) {
  const Settings s = Load("[MAIN]\nport=9000\nbgon=0\n[serverhost]\nADDRESS=h\nPORT=1\n");
  EXPECT_EQ(s.HttpPort, 9000);
  EXPECT_FALSE(s.BGOn);
  EXPECT_EQ(s.ServerAddress, "h");
  EXPECT_EQ(s.ServerPort, 1);
}

TEST_F(SettingsTest, IntegersAndBooleans) {
  struct Case {
    const char* value;
    int32_t port;  // [main] Port read from the value
    bool on;       // BGOn read from the value
  };
  const std::vector<Case> cases = {
      {"9000", 9000, true},    {" 9000 ", 9000, true}, {"abc", 8090, true},
      {"9000abc", 8090, true}, {"", 8090, true},       {"0", 8090, false},
      {"-1", 8090, true},      {"$1F90", 8080, true},  {"0x1F90", 8080, true},
      {"+443", 443, true},     {"1.5", 8090, true},    {"99999999999", 8090, true},
      {"true", 8090, true},    {"--1", 8090, true},    {"65535", 65535, true},
  };
  for (const auto& c : cases) {
    messages_.clear();
    const Settings s = Load(std::string("[main]\nPort=") + c.value + "\nBGOn=" + c.value + "\n");
    EXPECT_EQ(s.HttpPort, c.port) << c.value;
    EXPECT_EQ(s.BGOn, c.on) << c.value;
  }
  // Booleans default to true, so false must come from the file.
  EXPECT_FALSE(Load("[main]\nMESOn=0\n").MESOn);
  EXPECT_TRUE(Load("[main]\nMESOn=x\n").MESOn);
}

TEST_F(SettingsTest, ServerPortKeepsItsFullValue) {
  EXPECT_EQ(Load("[ServerHost]\nPort=70000\n").ServerPort, 70000);
  EXPECT_EQ(Load("[ServerHost]\nPort=x\n").ServerPort, 12543);
}

TEST_F(SettingsTest, HttpPortOutOfRangeFallsBackWithAMessage) {
  for (const char* value : {"0", "-1", "65536", "70000"}) {
    messages_.clear();
    const Settings s = Load(std::string("[main]\nIP=h\nPort=") + value + "\n");
    EXPECT_EQ(s.HttpPort, 8090) << value;
    EXPECT_EQ(s.PublicAddress(), "h:8090") << value;
    ASSERT_EQ(messages_.size(), 1u) << value;
    EXPECT_NE(messages_[0].find(value), std::string::npos) << messages_[0];
  }
}

TEST_F(SettingsTest, TextsAsTheyStand) {
  const Settings s = Load(
      "\xEF\xBB\xBF[main]\n"  // a UTF-8 mark in front of the first section is skipped
      "UserName=\xC8\xE2\xE0\xED  ;  not a comment\n"
      "Password=\n"
      "companyName=first\n"
      "companyName=second\n"
      "companyPhone=one\n"
      "  two\n");
  EXPECT_EQ(s.HttpUserName, "\xC8\xE2\xE0\xED  ;  not a comment");
  EXPECT_EQ(s.HttpPassword, "");  // present but empty is not missing
  EXPECT_EQ(s.CompanyName, "first");
  EXPECT_EQ(s.CompanyPhone, "one");
}

TEST_F(SettingsTest, LongLinesAreReadWhole) {
  const std::string address(1000, 'x');
  const Settings s = Load("[main]\ncompanyAddress=" + address + "\nPort=9100\n");
  EXPECT_EQ(s.CompanyAddress, address);
  EXPECT_EQ(s.HttpPort, 9100);
}

TEST_F(SettingsTest, ValidKeyTableIsApplied) {
  const KeyTable wanted = Reversed();
  const Settings s = Load("[ServerHost]\nKeyTable=" + HexOf(wanted) + "\n[main]\nPort=9001\n");
  EXPECT_EQ(GetKeyTable(1), wanted);
  EXPECT_EQ(s.KeyTable, HexOf(wanted));
  EXPECT_EQ(s.HttpPort, 9001);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SettingsTest, InvalidKeyTableKeepsTheBuiltInTableWithAMessage) {
  ResetKeyTable1();
  const KeyTable built_in = GetKeyTable(1);
  const std::string good = HexOf(Reversed());
  std::string bad_digit = good;
  bad_digit[10] = 'Z';
  for (const std::string& value : {good.substr(2), good + "0", bad_digit, std::string("yes")}) {
    messages_.clear();
    Load("[ServerHost]\nKeyTable=" + value + "\n");
    EXPECT_EQ(GetKeyTable(1), built_in) << value.size();
    ASSERT_EQ(messages_.size(), 1u);
    const std::string line = Cp1251ToUtf8(messages_[0]);
    EXPECT_NE(line.find("KeyTable"), std::string::npos) << line;
    EXPECT_NE(line.find("встроенная таблица"), std::string::npos) << line;
  }
}

TEST_F(SettingsTest, MissingOrEmptyKeyTableRestoresTheBuiltInTableSilently) {
  ResetKeyTable1();
  const KeyTable built_in = GetKeyTable(1);
  for (const char* content : {"[main]\nPort=1\n", "[ServerHost]\nKeyTable=\n"}) {
    ASSERT_TRUE(SetKeyTable1FromHex(HexOf(Reversed())));
    Load(content);
    EXPECT_EQ(GetKeyTable(1), built_in) << content;
  }
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace ab
