#include "msgserver/simulator.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <vector>

#include "link/record_message.h"
#include "util/bytes.h"
#include "util/codepage.h"
#include "util/json.h"

namespace ab::sim {

namespace {

constexpr size_t kShown = 240;  // characters of an unknown message shown

const char* const kAlarmTexts[] = {
    "Пожарная тревога",     "Тревога: проникновение",   "Тревожная кнопка",
    "Неисправность шлейфа", "Нет связи с объектом",     "Снятие с охраны",
    "Постановка на охрану", "Вскрытие корпуса прибора",
};

std::string Shorten(std::string text) {
  if (text.size() > kShown) text = text.substr(0, kShown) + "...";
  return text;
}

// A message text from the server's side in Windows-1251, shown in UTF-8.
std::string Shown(const std::string& cp1251) { return Shorten(Cp1251ToUtf8(cp1251)); }

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string Rest(const std::string& line, size_t words) {
  size_t at = 0;
  for (size_t i = 0; i < words; ++i) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string::npos) return {};
    at = line.find_first_of(" \t", at);
    if (at == std::string::npos) return {};
  }
  at = line.find_first_not_of(" \t", at);
  return at == std::string::npos ? std::string() : line.substr(at);
}

std::optional<int32_t> RecordNumber(const std::string& s) {
  try {
    size_t used = 0;
    const long v = std::stol(s, &used);
    if (used != s.size() || v < 1 || v > 16777214) return std::nullopt;
    return static_cast<int32_t>(v);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

Simulator::Simulator(MsgServer& server, DataSet data, const Clock& clock, std::ostream& out,
                     bool verbose, uint64_t seed)
    : server_(server),
      data_(std::move(data)),
      clock_(clock),
      out_(out),
      verbose_(verbose),
      random_(seed) {}

void Simulator::Install() {
  Republish();
  for (const auto& p : data_.Pictures) server_.SetFile(p.File, p.Bytes);
  for (const auto& e : data_.Events) server_.AppendEvent(e);
  server_.OnReceived = [this](const MsgServer::Received& r) { OnReceived(r); };
  server_.OnSending = [this](uint8_t kind, const std::string& bytes) { OnSending(kind, bytes); };
}

void Simulator::Republish() { server_.SetTables(BuildTables(data_), /*compressed=*/true); }

void Simulator::Print(const std::string& line) {
  const std::time_t t = std::chrono::system_clock::to_time_t(clock_.WallNow());
  std::tm tm{};
  localtime_r(&t, &tm);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tm);
  std::lock_guard lock(print_mutex_);
  out_ << stamp << ' ' << line << '\n';
  out_.flush();
}

void Simulator::OnReceived(const MsgServer::Received& r) {
  const std::string& t = r.Text;
  const std::string c = JsonGetValue(t, "$c$");
  {
    std::lock_guard lock(count_mutex_);
    ++received_[c];
  }
  if (c == "reg") {
    // The name comes UTF-8 encoded; the password is not for the screen.
    Print("<- registration: user \"" + JsonGetValue(t, "username") + "\", version " +
          JsonGetValue(t, "ver"));
  } else if (c == "testex") {
    if (!verbose_) return;
    std::string queues = JsonGetValue(t, "queue");
    const std::string q = JsonNextElement(queues);
    Print("<- keep-alive" +
          (q.empty() ? std::string()
                     : " " + JsonGetValue(q, "name") + " position " + JsonGetValue(q, "current") +
                           " holding " + JsonGetValue(q, "inpack")));
  } else if (c == "info") {
    // Every second; shown when it changes.
    std::string data = JsonGetValue(t, "data");
    {
      std::lock_guard lock(count_mutex_);
      if (data == last_info_ && !verbose_) return;
      last_info_ = data;
    }
    Print("<- info report: " + Shown("[" + data + "]"));
  } else if (c == "getqueue") {
    Print("<- queue request \"" + JsonGetValue(t, "name") + "\"");
  } else if (c == "database") {
    Print("<- table request \"" + JsonGetValue(t, "name") + "\" (" + JsonGetValue(t, "command") +
          ")");
  } else if (c == "getfile") {
    Print("<- file request " + Shown(JsonGetValue(t, "nameinserv")));
  } else if (c == "netwritesoobe") {
    std::string data = JsonGetValue(t, "data");
    const std::string m = JsonNextElement(data);
    Print("<- message to the console: object " + JsonGetValue(m, "nu:in") + " \"" +
          Shown(JsonGetValue(m, "na:st")) + "\": " + Shown(JsonGetValue(m, "de:st")) + " (type " +
          JsonGetValue(m, "ty") + ", operator " + Shown(JsonGetValue(m, "us:st")) + ")");
  } else if (c == "closeclient") {
    Print("<- the driver says goodbye (closeclient)");
  } else if (c == "startrecivefile") {
    if (verbose_) Print("<- file accepted");
  } else {
    Print("<- " + Shown(t));
  }
}

void Simulator::OnSending(uint8_t kind, const std::string& bytes) {
  if (kind == kKindFile) {
    Print("-> file, " + std::to_string(bytes.size()) + " bytes");
    return;
  }
  if (kind == kKindRecord) {
    const auto msg = ReadRecordMessage(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    const auto rec = msg ? ReadTableRecord(msg->Body) : std::nullopt;
    if (!msg || !rec) {
      Print("-> record message, " + std::to_string(bytes.size()) + " bytes");
    } else if (msg->Type == kRecordRowChange) {
      Print("-> row change of \"" + rec->Table + "\" row " + std::to_string(rec->Value + 1));
    } else {
      Print("-> deletion in \"" + rec->Table + "\" of record " + std::to_string(rec->Value));
    }
    return;
  }
  const std::string c = JsonGetValue(bytes, "$c$");
  if (c == "testex") {
    std::string queues = JsonGetValue(bytes, "queue");
    const std::string q = JsonNextElement(queues);
    std::string zap = JsonGetValue(q, "zap");
    const std::string first = JsonNextElement(zap);
    if (!first.empty()) {
      Print("-> package of " + JsonGetValue(q, "inpack") + " event(s) from counter " +
            JsonGetValue(first, "inc_counter") + " (queue count " + JsonGetValue(q, "count") + ")");
    } else if (verbose_) {
      Print("-> keep-alive answer" +
            (q.empty() ? std::string() : ": count " + JsonGetValue(q, "count")));
    }
  } else if (c == "regok") {
    Print("-> registration accepted (tid " + JsonGetValue(bytes, "tid") + ")");
  } else if (c == "tablerawfromfile") {
    Print("-> table \"" + JsonGetValue(bytes, "name") + "\" ready as " +
          JsonGetValue(bytes, "filename"));
  } else if (c == "sendfile") {
    Print("-> file offered: " + Shown(JsonGetValue(bytes, "name")));
  } else if (c == "queuezag") {
    Print("-> queue \"" + JsonGetValue(bytes, "name") + "\": count " +
          JsonGetValue(bytes, "count") + ", position " + JsonGetValue(bytes, "position"));
  } else if (c == "startrecivefile") {
    if (verbose_) Print("-> file from the driver accepted");
  } else {
    Print("-> " + Shown(bytes));
  }
}

bool Simulator::Event(int32_t object, const std::string& text) {
  const ObjectRow* o = nullptr;
  if (object != 0) {
    o = data_.FindObject(object);
    if (o == nullptr || o->Deleted) return false;
  } else {
    std::vector<const ObjectRow*> served;
    for (const auto& x : data_.Objects) {
      if (x.Served && !x.Deleted) served.push_back(&x);
    }
    if (served.empty()) return false;
    o = served[std::uniform_int_distribution<size_t>(0, served.size() - 1)(random_)];
  }
  const std::string what = text.empty()
                               ? std::string(kAlarmTexts[std::uniform_int_distribution<size_t>(
                                     0, std::size(kAlarmTexts) - 1)(random_)])
                               : text;
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(clock_.WallNow().time_since_epoch()).count();
  const std::string entry = "{\"event_date\":\"" + std::to_string(now) + "\",\"object_id\":\"" +
                            std::to_string(o->Id) + "\",\"number\":\"" + std::to_string(o->Number) +
                            "\",\"name\":\"" + JsonEscape(o->Name) + "\",\"text\":\"" +
                            JsonEscape(Utf8ToCp1251(what)) + "\"}";
  const int64_t counter = server_.QueueCount();
  server_.AppendEvent(entry);
  Print("== event " + std::to_string(counter) + " queued: object " + std::to_string(o->Id) + " \"" +
        Cp1251ToUtf8(o->Name) + "\": " + Cp1251ToUtf8(Utf8ToCp1251(what)));
  return true;
}

void Simulator::Tick(double every) {
  if (every <= 0) return;
  const Clock::SteadyTime now = clock_.Now();
  const auto step =
      std::chrono::duration_cast<Clock::SteadyTime::duration>(std::chrono::duration<double>(every));
  if (!ticking_) {
    ticking_ = true;
    next_event_ = now + step;
  }
  if (now < next_event_) return;
  // After a long pause one event, not a burst.
  next_event_ = std::max(next_event_ + step, now);
  if (next_event_ == now) next_event_ += step;
  Event(0, "");
}

bool Simulator::Change(const std::string& line) {
  const auto w = Words(line);
  const std::string assignment = Rest(line, 2);
  const size_t eq = assignment.find('=');
  const auto id = w.size() >= 2 ? RecordNumber(w[1]) : std::nullopt;
  if (!id || eq == std::string::npos || eq == 0) {
    Print("!! usage: change <object n_abs> <field>=<value>; fields: " + ChangeableFields());
    return false;
  }
  ObjectRow* o = data_.FindObject(*id);
  if (o == nullptr || o->Deleted) {
    Print("!! no object " + std::to_string(*id));
    return false;
  }
  std::string key = assignment.substr(0, eq);
  key.erase(key.find_last_not_of(" \t") + 1);
  std::string value = assignment.substr(eq + 1);
  value.erase(0, value.find_first_not_of(" \t"));
  value.erase(value.find_last_not_of(" \t") + 1);
  const int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(clock_.WallNow().time_since_epoch()).count();
  const ObjectFieldChange c = ChangeObject(*o, key, value, now);
  if (!c.Error.empty()) {
    Print("!! " + c.Error);
    return false;
  }
  const auto row = static_cast<int32_t>(o - data_.Objects.data());
  server_.SendRowChange("object", row, static_cast<int32_t>(data_.Objects.size()), c.Entries);
  Republish();
  Print("== object " + std::to_string(*id) + ": " + key + " changed");
  return true;
}

bool Simulator::Delete(const std::string& line) {
  const auto w = Words(line);
  const auto id = w.size() == 3 ? RecordNumber(w[2]) : std::nullopt;
  if (!id) {
    Print("!! usage: delete mesmaps|otvl|otvls|object <n_abs>");
    return false;
  }
  bool* deleted = nullptr;
  const auto find = [&](auto& rows) {
    for (auto& r : rows) {
      if (r.Id == *id && !r.Deleted) deleted = &r.Deleted;
    }
  };
  const std::string& table = w[1];
  if (table == "object") {
    find(data_.Objects);
  } else if (table == "otvl") {
    find(data_.Persons);
  } else if (table == "otvls") {
    find(data_.Links);
  } else if (table == "mesmaps") {
    find(data_.Pictures);
  } else {
    Print("!! no table '" + table + "'; tables: mesmaps otvl otvls object");
    return false;
  }
  if (deleted == nullptr) {
    Print("!! no record " + std::to_string(*id) + " in \"" + table + "\"");
    return false;
  }
  *deleted = true;
  server_.SendDeletion(table, *id);
  Republish();
  Print("== \"" + table + "\" record " + std::to_string(*id) + " deleted");
  return true;
}

void Simulator::Status() {
  std::map<std::string, int64_t> counts;
  {
    std::lock_guard lock(count_mutex_);
    counts = received_;
  }
  const auto n = [&](const char* c) { return std::to_string(counts[c]); };
  Print("== status: registrations " + n("reg") + ", keep-alives " + n("testex") +
        ", info reports " + n("info") + ", console messages " + n("netwritesoobe") +
        ", file requests " + n("getfile"));
  Print("== queue bg: " + std::to_string(server_.QueueCount()) + " event(s), driver at position " +
        std::to_string(server_.ReportedPosition()) + "; transfers done " +
        std::to_string(server_.TransfersDone()) + ", datagrams lost " +
        std::to_string(server_.Dropped()) + "; silent " + (server_.Silent.load() ? "on" : "off") +
        ", loss " + std::to_string(server_.DropIncoming.load()));
}

bool Simulator::Command(const std::string& line) {
  const auto w = Words(line);
  if (w.empty()) return true;
  const std::string& c = w[0];
  if (c == "quit" || c == "exit") return false;
  if (c == "help") {
    Print(
        "== commands: event [n_abs] [text] | change <n_abs> <field>=<value> | delete <table> "
        "<n_abs> | silent on|off | loss <P> | status | help | quit");
    Print("== fields for change: " + ChangeableFields());
  } else if (c == "event") {
    int32_t object = 0;
    size_t text_from = 1;
    if (w.size() >= 2) {
      if (const auto id = RecordNumber(w[1])) {
        object = *id;
        text_from = 2;
      }
    }
    if (!Event(object, Rest(line, text_from))) Print("!! no such object to raise an event for");
  } else if (c == "change") {
    Change(line);
  } else if (c == "delete") {
    Delete(line);
  } else if (c == "silent") {
    if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) {
      Print("!! usage: silent on|off");
    } else {
      server_.Silent = w[1] == "on";
      Print(std::string("== silent ") + w[1]);
    }
  } else if (c == "loss") {
    double p = -1;
    try {
      size_t used = 0;
      if (w.size() == 2) p = std::stod(w[1], &used);
      if (w.size() != 2 || used != w[1].size()) p = -1;
    } catch (const std::exception&) {
      p = -1;
    }
    if (!(p >= 0 && p < 1)) {
      Print("!! usage: loss <P>, 0 <= P < 1");
    } else {
      server_.DropIncoming = p;
      server_.DropOutgoing = p;
      Print("== loss " + w[1]);
    }
  } else if (c == "status") {
    Status();
  } else {
    Print("!! unknown command '" + c + "'; try help");
  }
  return true;
}

}  // namespace ab::sim
