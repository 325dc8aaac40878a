#pragma once
// Shared pieces of the end-to-end tests: the real alarm-bridge binary as a child process in a
// fresh folder, the message-server double on loopback, an HTTP client with deadlines, a small
// data set of the four tables and the answers the driver must give for it, computed here from
// the data alone.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "msgserver/msg_server.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "tables/table_file_writer.h"

namespace ab::e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls until done() holds or the limit passes; the last check decides.
template <typename F>
bool WaitFor(F done, std::chrono::milliseconds limit, std::chrono::milliseconds step = 20ms) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(step);
  }
  return done();
}

double SecondsSince(Clock::time_point t);

// A TCP port nobody listens on at the moment of the call.
uint16_t FreeTcpPort();

// The console's code page for the letters the data set uses (ASCII, Cyrillic, Ё/ё, №).
std::string Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view cp);
using test::Le32;
std::string Base64(std::string_view bytes);
std::string JsonEsc(std::string_view s);  // quote, backslash and slash only
std::string XmlEsc(std::string_view s);
size_t Occurrences(const std::string& text, const std::string& what);

// ---- the process ----------------------------------------------------------------------------

class Process {
 public:
  // Starts args[0] in dir with stdout to a pipe (stderr is inherited).
  Process(const std::filesystem::path& dir, const std::vector<std::string>& args);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Reads stdout until done(text) holds or the limit passes.
  template <typename F>
  bool ReadUntil(F done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done(text_)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) return false;
      if (!ReadSome(left)) return done(text_);
    }
    return true;
  }
  // Takes whatever stdout holds now without blocking.
  void Drain();
  // Sends the signal and waits for the exit status (-1 if it did not end in time).
  int Stop(int sig, std::chrono::seconds limit);

  const std::string& Text() const { return text_; }
  bool Started() const { return pid_ > 0; }

 private:
  bool ReadSome(std::chrono::milliseconds limit);  // false at end of stream
  int pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  int exit_status_ = -1;
  bool eof_ = false;
  std::string text_;
};

// ---- HTTP -----------------------------------------------------------------------------------

struct HttpReply {
  bool Connected = false;  // the TCP connection was accepted
  bool Answered = false;   // a complete response arrived before the deadline
  int Status = 0;
  std::map<std::string, std::string> Headers;
  std::string Body;
  std::string Header(const std::string& name) const;
};

HttpReply Http(uint16_t port, const std::string& method, const std::string& target,
               const std::string& body = "", const std::map<std::string, std::string>& headers = {},
               std::chrono::milliseconds limit = 30s);

// ---- the data set ---------------------------------------------------------------------------

struct ObjectRow {
  int32_t Number = 0;
  bool Selected = true;   // field 139, bit 0x20 of the first byte
  bool Inactive = false;  // field 29, bit 0x40 of the second byte
  uint32_t Changed = 0;   // field 4, seconds since 2000-01-01
  std::string Name, Street, Building, House, Phone, Type;  // 8, 9, 10, 12, 13, 21 (cp1251)
  float Lon = 0, Lat = 0;                                  // 25, 26
  int32_t State = 0;                                       // 206
  uint32_t StateTime = 0, Updated = 0;                     // 207, 208
  std::string SensorId, SensorPlace;                       // 209, 210
  std::string NumberText, TypeO;                           // "number", "typeo"
};

struct PersonRow {
  int32_t Number = 0;
  std::string FullName, Position, Home, Work, Mobile;  // 7, 8, 9, 10, 11
};

struct LinkRow {
  int32_t Number = 0, Object = 0, Person = 0;  // 1, 7, 8
};

struct PictureRow {
  int32_t Number = 0, Object = 0;  // 1, 7
  std::string File, Caption;       // 8, 9
};

struct DataSet {
  std::vector<PictureRow> Pictures;
  std::vector<PersonRow> Persons;
  std::vector<LinkRow> Links;
  std::vector<ObjectRow> Objects;
};

inline constexpr int32_t kTextSlot = 41;  // width of every text field of the data set
inline constexpr const char* kSpiNamespace = "urn://alarm-bridge/services/spi/types/1.1";

DataSet SampleData();
// The four tables in the layout the driver reads, in the registration order.
std::vector<TableData> BuildTables(const DataSet& data);
// Record messages of the double: a row change of one text field of "object", a deletion.
std::string ObjectTextChange(const DataSet& data, size_t row, const std::string& field,
                             const std::string& cp1251);
std::string Deletion(const std::string& table, int32_t number);

// What the driver must answer, in UTF-8.
std::string ExpectedObjects(const DataSet& data, const std::string& public_address);

struct Company {
  std::string Name, Phone, Address;  // ASCII
};
std::string SoapEnvelope(const std::string& answer_element);
std::string ExpectedSpiList(const DataSet& data);
std::string ExpectedSpiDescriptions(const DataSet& data, const std::vector<int32_t>& ids,
                                    const Company& company);
std::string ExpectedSpiStates(const DataSet& data, const std::vector<int32_t>& ids);
std::string ExpectedSpiAck(const DataSet& data, int32_t id);
// The command the double must receive for an acknowledgement (cp1251).
std::string ExpectedAckCommand(const DataSet& data, int32_t id, const std::string& user);

// ---- one driver against one double ----------------------------------------------------------

struct BridgeConfig {
  std::string UserName = "spi";
  std::string Password = "s3cret";
  std::string PublicIp = "192.0.2.7";
  Company Maintainer{"Acme Service", "+7 495 123-45-67", "Main st 1"};
  int BgOn = 1, MesOn = 1;
};

class Bridge {
 public:
  explicit Bridge(DataSet data = SampleData(), BridgeConfig config = {});
  ~Bridge();

  void Launch();  // (re)starts the binary in the same folder
  // The process, once launched; stdout of the current run.
  Process& Proc() { return *process_; }
  // Waits for the status lines of a registration and four table loads printed after the
  // first `from` bytes of stdout, then for the HTTP server to answer.
  bool WaitReady(std::chrono::milliseconds limit, size_t from = 0);
  bool HttpAnswers();   // an uncounted path gets an answer
  bool HttpRefused();   // the port refuses connections
  HttpReply Get(const std::string& target, const std::string& body = "",
                std::chrono::milliseconds limit = 30s);
  HttpReply Spi(const std::string& body, const std::string& user, const std::string& password);
  std::string PublicAddress() const;

  MsgServer& Server() { return *server_; }
  const DataSet& Data() const { return data_; }
  DataSet& MutableData() { return data_; }
  const BridgeConfig& Config() const { return config_; }
  const std::filesystem::path& Dir() const { return dir_.path(); }
  uint16_t HttpPort() const { return http_port_; }
  // The link's diagnostic logs (logs/udpc_*.log), concatenated, and the disconnection codes
  // they record, in order.
  std::string DiagnosticLog() const;
  std::vector<int> DisconnectionCodes() const;
  // Texts received by the double whose "$c$" is name, in arrival order.
  std::vector<std::string> Received(const std::string& name);
  // The "getfile" requests the double received for its maps folder (pictures; tables are
  // fetched the same way from elsewhere).
  std::vector<std::string> MapRequests();

 private:
  test::TempDir dir_;
  DataSet data_;
  BridgeConfig config_;
  std::unique_ptr<MsgServer> server_;
  uint16_t http_port_ = 0;
  std::unique_ptr<Process> process_;
};

// A Safe City consumer following the event queue by counters: each poll confirms the newest
// entry it holds ("inc_counter" of the last entry received, -1 before any) and keeps what the
// answer brings.
// With ByDate it confirms by "events_date" instead: the date of the last entry received, 0
// before any.
struct EventConsumer {
  bool ByDate = false;
  int64_t Last = -1;
  int64_t LastDate = 0;
  std::vector<int64_t> Counters;  // "inc_counter" of every entry received, in arrival order
  std::vector<std::string> Entries;
  std::vector<std::string> Answers;  // per poll: what was confirmed and which counters came
  int Polls = 0, Unanswered = 0;
  // One request; returns the number of entries it brought (-1: no answer).
  int Poll(Bridge& bridge, std::chrono::milliseconds limit = 30s);
};

}  // namespace ab::e2e
