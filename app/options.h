#pragma once
// Command-line options of alarm-bridge.

#include <string>
#include <vector>

namespace ab::app {

struct Options {
  bool headless = false;
  bool help = false;
  bool version = false;
  std::string error;  // non-empty: bad usage, exit 2
};

Options ParseOptions(const std::vector<std::string>& args);
std::string UsageText();
std::string VersionText();

}  // namespace ab::app
