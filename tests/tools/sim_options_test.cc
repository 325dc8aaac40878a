#include "msgserver/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ab::sim {
namespace {

TEST(SimOptionsTest, DefaultsWithoutArguments) {
  const SimOptions o = ParseSimOptions({});
  EXPECT_EQ(o.Error, "");
  EXPECT_EQ(o.Bind, "127.0.0.1");
  EXPECT_EQ(o.Port, 12543);
  EXPECT_EQ(o.Data, "");
  EXPECT_EQ(o.EventEvery, 5);
  EXPECT_EQ(o.Loss, 0);
  EXPECT_FALSE(o.Help || o.Version || o.Verbose);
}

TEST(SimOptionsTest, AcceptedOptions) {
  const std::string hex(512, 'a');
  const SimOptions o =
      ParseSimOptions({"--bind", "0.0.0.0", "--port=0", "--data", "x.json", "--key-table", hex,
                       "--loss", "0.25", "--event-every=0", "--verbose", "--help", "--version"});
  EXPECT_EQ(o.Error, "");
  EXPECT_EQ(o.Bind, "0.0.0.0");
  EXPECT_EQ(o.Port, 0);
  EXPECT_EQ(o.Data, "x.json");
  EXPECT_EQ(o.KeyTable, hex);
  EXPECT_EQ(o.Loss, 0.25);
  EXPECT_EQ(o.EventEvery, 0);
  EXPECT_TRUE(o.Help && o.Version && o.Verbose);
  EXPECT_EQ(ParseSimOptions({"--port", "65535", "--event-every", "0.5"}).Port, 65535);
  EXPECT_EQ(ParseSimOptions({"--event-every", "0.5"}).EventEvery, 0.5);
}

TEST(SimOptionsTest, BadUsageIsRefusedWithAMessageNamingTheOption) {
  const struct {
    std::vector<std::string> Args;
    std::string Says;
  } cases[] = {
      {{"--port"}, "--port needs a value"},
      {{"--port", "65536"}, "--port needs a port number"},
      {{"--port", "-1"}, "--port needs a port number"},
      {{"--port", "12x"}, "--port needs a port number"},
      {{"--port", "1.5"}, "--port needs a port number"},
      {{"--bind", "localhost"}, "--bind needs an IPv4 address"},
      {{"--bind", "1.2.3"}, "--bind needs an IPv4 address"},
      {{"--data", ""}, "--data needs a file name"},
      {{"--key-table", std::string(510, '0')}, "512 hexadecimal digits"},
      {{"--key-table", std::string(511, '0') + "g"}, "512 hexadecimal digits"},
      {{"--loss", "1"}, "--loss needs a fraction"},
      {{"--loss", "-0.1"}, "--loss needs a fraction"},
      {{"--loss", "nan"}, "--loss needs a fraction"},
      {{"--event-every", "-1"}, "--event-every needs seconds"},
      {{"--event-every", "inf"}, "--event-every needs seconds"},
      {{"--verbose=1"}, "takes no value"},
      {{"--frobnicate"}, "unknown option '--frobnicate'"},
      {{"12543"}, "unknown option '12543'"},
  };
  for (const auto& c : cases) {
    const SimOptions o = ParseSimOptions(c.Args);
    EXPECT_NE(o.Error.find(c.Says), std::string::npos)
        << (c.Args.empty() ? "" : c.Args[0]) << " gave '" << o.Error << "'";
  }
}

}  // namespace
}  // namespace ab::sim
