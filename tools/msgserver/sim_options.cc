#include "msgserver/sim_options.h"

#include <arpa/inet.h>

#include <cmath>
#include <optional>

namespace ab::sim {

namespace {

std::optional<double> Number(const std::string& s) {
  if (s.empty()) return std::nullopt;
  size_t used = 0;
  try {
    const double v = std::stod(s, &used);
    if (used != s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

bool IsHex(const std::string& s) {
  for (const char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

}  // namespace

SimOptions ParseSimOptions(const std::vector<std::string>& args) {
  SimOptions o;
  for (size_t i = 0; i < args.size() && o.Error.empty(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inline_value;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = name.substr(eq + 1);
      name.resize(eq);
    }
    const auto flag = [&](bool& target) {
      if (inline_value) {
        o.Error = "option " + name + " takes no value";
      } else {
        target = true;
      }
    };
    const auto value = [&]() -> std::optional<std::string> {
      if (inline_value) return inline_value;
      if (i + 1 >= args.size()) {
        o.Error = "option " + name + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    if (name == "--help" || name == "-h") {
      flag(o.Help);
    } else if (name == "--version" || name == "-V") {
      flag(o.Version);
    } else if (name == "--verbose" || name == "-v") {
      flag(o.Verbose);
    } else if (name == "--bind") {
      const auto v = value();
      in_addr a{};
      if (v && inet_pton(AF_INET, v->c_str(), &a) != 1) {
        o.Error = "--bind needs an IPv4 address such as 127.0.0.1, not '" + *v + "'";
      } else if (v) {
        o.Bind = *v;
      }
    } else if (name == "--port") {
      const auto v = value();
      const auto n = v ? Number(*v) : std::nullopt;
      if (v && (!n || *n < 0 || *n > 65535 || std::floor(*n) != *n)) {
        o.Error = "--port needs a port number from 0 to 65535, not '" + *v + "'";
      } else if (n) {
        o.Port = static_cast<uint16_t>(*n);
      }
    } else if (name == "--data") {
      const auto v = value();
      if (v && v->empty()) {
        o.Error = "--data needs a file name";
      } else if (v) {
        o.Data = *v;
      }
    } else if (name == "--key-table") {
      const auto v = value();
      if (v && (v->size() != 512 || !IsHex(*v))) {
        o.Error = "--key-table needs 512 hexadecimal digits (256 bytes), got " +
                  std::to_string(v->size()) + " characters";
      } else if (v) {
        o.KeyTable = *v;
      }
    } else if (name == "--loss") {
      const auto v = value();
      const auto n = v ? Number(*v) : std::nullopt;
      if (v && (!n || *n < 0 || *n >= 1)) {
        o.Error = "--loss needs a fraction from 0 up to (not including) 1, not '" + *v + "'";
      } else if (n) {
        o.Loss = *n;
      }
    } else if (name == "--event-every") {
      const auto v = value();
      const auto n = v ? Number(*v) : std::nullopt;
      if (v && (!n || *n < 0 || *n > 86400)) {
        o.Error = "--event-every needs seconds from 0 (off) to 86400, not '" + *v + "'";
      } else if (n) {
        o.EventEvery = *n;
      }
    } else {
      o.Error = "unknown option '" + args[i] + "'";
    }
  }
  return o;
}

std::string SimUsage() {
  return "Usage: msgserver-sim [--bind ADDR] [--port N] [--data FILE] [--key-table HEX]\n"
         "                     [--loss P] [--event-every SECONDS] [--verbose]\n"
         "A message server for alarm-bridge to link to: it serves the four tables of a data\n"
         "set, map pictures and the event queue \"bg\", and prints what the driver sends.\n"
         "\n"
         "  --bind ADDR          IPv4 address to listen on (default 127.0.0.1)\n"
         "  --port N             UDP port (default 12543; 0: any free port)\n"
         "  --data FILE          data set (JSON, see DATASET.md); default: the built-in demo\n"
         "  --key-table HEX      key table 1 as 512 hexadecimal digits (default: built-in)\n"
         "  --loss P             lose this fraction of datagrams each way (0 <= P < 1)\n"
         "  --event-every S      generate an event every S seconds (default 5; 0: off)\n"
         "  --verbose            also print every keep-alive and its answer\n"
         "  --help, --version    show this help or the version and exit\n"
         "\n"
         "Commands on standard input, one per line:\n"
         "  event [n_abs] [text]          append an event (random object, random text)\n"
         "  change <n_abs> <field>=<v>    change a field of an object (sent as a row change)\n"
         "  delete <table> <n_abs>        delete a row of mesmaps, otvl, otvls or object\n"
         "  silent on|off                 stop or resume answering anything\n"
         "  loss <P>                      set the datagram loss\n"
         "  status, help, quit\n"
         "\n"
         "Exit status: 0 done (also on SIGINT/SIGTERM), 1 failure (data set, socket), 2 bad "
         "usage.\n";
}

}  // namespace ab::sim
