#pragma once
// Command-line options of msgserver-sim.

#include <cstdint>
#include <string>
#include <vector>

namespace ab::sim {

struct SimOptions {
  std::string Bind = "127.0.0.1";
  uint16_t Port = 12543;
  std::string Data;       // empty: the built-in demo data set
  std::string KeyTable;   // empty: the built-in key table
  double Loss = 0;        // fraction of datagrams lost each way
  double EventEvery = 5;  // seconds between generated events; 0: none
  bool Verbose = false;
  bool Help = false;
  bool Version = false;
  std::string Error;  // non-empty: bad usage, exit 2
};

// args without the program name. "--opt value" and "--opt=value" are both accepted.
SimOptions ParseSimOptions(const std::vector<std::string>& args);
std::string SimUsage();

}  // namespace ab::sim
