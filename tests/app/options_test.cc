#include "options.h"

#include <gtest/gtest.h>

namespace ab::app {
namespace {

TEST(OptionsTest, KnownAndUnknownOptions) {
  struct Case {
    std::vector<std::string> args;
    bool headless, help, version, error;
  };
  const Case cases[] = {
      {{}, false, false, false, false},
      {{"--headless"}, true, false, false, false},
      {{"--help"}, false, true, false, false},
      {{"-h"}, false, true, false, false},
      {{"--version"}, false, false, true, false},
      {{"--headless", "--bogus"}, true, false, false, true},
      {{"headless"}, false, false, false, true},
  };
  for (const auto& c : cases) {
    const Options o = ParseOptions(c.args);
    const std::string label = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(o.headless, c.headless) << label;
    EXPECT_EQ(o.help, c.help) << label;
    EXPECT_EQ(o.version, c.version) << label;
    EXPECT_EQ(!o.error.empty(), c.error) << label;
  }
  EXPECT_NE(ParseOptions({"--bogus"}).error.find("--bogus"), std::string::npos);
  EXPECT_EQ(VersionText().rfind("alarm-bridge ", 0), 0u);
}

}  // namespace
}  // namespace ab::app
