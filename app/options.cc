#include "options.h"

#include "version.h"

namespace ab::app {

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  for (const auto& a : args) {
    if (a == "--headless") {
      o.headless = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version" || a == "-V") {
      o.version = true;
    } else {
      o.error = "unknown option '" + a + "'";
      break;
    }
  }
  return o;
}

std::string UsageText() {
  return "Usage: alarm-bridge [--headless]\n"
         "Links a monitoring console's message server to the Safe City platform (JSON over\n"
         "HTTP) and the SPI alarm service (SOAP). Reads setup.ini from the current directory\n"
         "and keeps all its files under it.\n"
         "\n"
         "  --headless   run without a window; status lines go to standard output\n"
         "  --help       show this help and exit\n"
         "  --version    show the version and exit\n"
         "\n"
         "SIGINT and SIGTERM shut the program down in order (the link says goodbye to the\n"
         "server) and it exits 0.\n";
}

std::string VersionText() { return std::string("alarm-bridge ") + kVersion + "\n"; }

}  // namespace ab::app
