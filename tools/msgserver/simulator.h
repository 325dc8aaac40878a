#pragma once
// The simulator around the message-server double: it installs a data set (tables, pictures,
// initial events), generates events, carries out the operator's commands and prints, one line
// each in UTF-8 with a time stamp, what the driver sends and what goes back.

#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <random>
#include <string>

#include "msgserver/dataset.h"
#include "msgserver/msg_server.h"
#include "util/clock.h"

namespace ab::sim {

class Simulator {
 public:
  // server, clock and out must outlive the simulator. Install before the server starts.
  Simulator(MsgServer& server, DataSet data, const Clock& clock, std::ostream& out, bool verbose,
            uint64_t seed);
  void Install();

  // One line of operator input; false when it asks to quit.
  bool Command(const std::string& line);
  // Appends an event for the object (0: a random served one) with the text (empty: a random
  // alarm text, UTF-8 otherwise). False when there is no such object.
  bool Event(int32_t object, const std::string& text);
  // Periodic work: a generated event every `every` seconds (0: none).
  void Tick(double every);

  const DataSet& Data() const { return data_; }
  void Print(const std::string& line);  // with the time stamp, thread-safe

 private:
  void OnReceived(const MsgServer::Received& r);
  void OnSending(uint8_t kind, const std::string& bytes);
  void Republish();  // the tables as they now are, for the next load
  void Status();
  bool Change(const std::string& args);
  bool Delete(const std::string& args);

  MsgServer& server_;
  DataSet data_;
  const Clock& clock_;
  std::ostream& out_;
  bool verbose_;
  std::mt19937_64 random_;
  bool ticking_ = false;
  Clock::SteadyTime next_event_{};
  std::mutex print_mutex_;
  // Counted by the hooks on the server's thread.
  std::mutex count_mutex_;
  std::map<std::string, int64_t> received_;
  std::string last_info_;
};

}  // namespace ab::sim
